#include "templates.h"

#include "atomic_file.h"
#include "ini_document.h"
#include "regular_file.h"

namespace plinket {

namespace {

// Blanks (U+0020 only) removed at both ends; with `alsoTabs`, tabs too.
QString trimEnds(const QString& text, bool alsoTabs = false) {
    const auto trimmed = [alsoTabs](QChar c) { return c == u' ' || (alsoTabs && c == u'\t'); };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && trimmed(text[begin]))
        ++begin;
    while (end > begin && trimmed(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

int TemplateCatalog::indexOfHeader(const QString& header) const {
    const QByteArray wanted = header.toUtf8();
    for (int i = 0; i < m_records.size(); ++i) {
        if (iniNamesEqual(m_records[i].header.toUtf8(), wanted))
            return i;
    }
    return -1;
}

TemplateCatalog loadTemplates(const QString& templatesPath) {
    TemplateCatalog catalog;
    IniDocument doc;
    if (!doc.open(templatesPath))
        return catalog;
    doc.beginGroups();
    while (doc.nextGroup()) {
        TemplateRecord record{doc.groupName(), {}};
        doc.beginKeys();
        while (doc.nextKey())
            record.body = doc.keyValue().replace(u'|', u"\r\n"_qs);
        catalog.append(std::move(record));
    }
    doc.close();
    return catalog;
}

std::optional<TemplateDraft> templateFromEditor(const QString& editorText, int selectedIndex,
                                                const TemplateCatalog& catalog) {
    const QString text = trimEnds(editorText);
    TemplateDraft draft;
    if (text.startsWith(u'"')) {
        const QStringList pieces = text.split(u'"');
        draft.header = trimEnds(pieces.value(1));
        draft.body = trimEnds(pieces.value(2));
    } else if (selectedIndex >= 0 && selectedIndex < catalog.size()) {
        draft.header = catalog.at(selectedIndex).header;
        draft.body = text;
    } else {
        return std::nullopt;
    }
    // An empty header would address the area before the first group, where no template is read.
    if (draft.header.isEmpty() || draft.body.isEmpty())
        return std::nullopt;
    return draft;
}

QString normaliseLineBreaks(const QString& body) {
    QString out;
    out.reserve(body.size() + 8);
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        if (c == u'\r') {
            out += u"\r\n"_qs;
            if (i + 1 < body.size() && body[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            out += u"\r\n"_qs;
        } else {
            out += c;
        }
    }
    return out;
}

TemplateSaveResult saveTemplate(const QString& templatesPath, TemplateCatalog& catalog, const QString& header,
                                const QString& body) {
    TemplateSaveResult result;
    if (header.isEmpty() || body.isEmpty())
        return result;
    // A lone CR or LF would end the value's line in the file, so every break becomes CR LF first.
    // Blanks and tabs at the ends of a value do not survive the file, so they are not kept here either:
    // the list then holds what the next start reads back.
    const QString normalised = trimEnds(normaliseLineBreaks(body), true);
    if (normalised.isEmpty())
        return result;
    result.status = TemplateSaveStatus::WriteFailed;
    // Only a missing file is started afresh; one that exists but cannot be read keeps its bytes.
    switch (readRegularFile(templatesPath, nullptr)) {
    case FileReadStatus::Read:
        break;
    case FileReadStatus::Missing:
        if (!writeFileAtomically(templatesPath, QByteArrayLiteral("\xEF\xBB\xBF")))
            return result;
        break;
    case FileReadStatus::Unreadable:
        return result;
    }
    IniDocument doc;
    if (!doc.open(templatesPath, true))
        return result;
    int index = -1;
    if (doc.selectGroup(header)) {
        // The record of that group: the one at the group's place while the list mirrors the file (headers
        // that are not valid UTF-8 read as the same text, so the first record of that text may be another
        // group's), otherwise the first record of that header.
        const int ordinal = doc.groupOrdinal();
        const bool mirrored =
            ordinal < catalog.size() && iniNamesEqual(catalog.at(ordinal).header.toUtf8(), header.toUtf8());
        index = mirrored ? ordinal : catalog.indexOfHeader(header);
    }
    // The body goes into key "1"; in a group that holds several keys (written by hand), into the
    // last one, since that is the one read back as the body.
    const QString value = QString(normalised).replace(u"\r\n"_qs, u"|"_qs);
    if (!doc.writeLastKey(value))
        doc.writeString(u"1"_qs, value);
    if (!doc.close())
        return result;

    result.status = TemplateSaveStatus::Saved;
    if (index < 0) {
        catalog.append({header, normalised});
        result.index = catalog.size() - 1;
        result.appended = true;
    } else {
        catalog.replace(index, {header, normalised});
        result.index = index;
    }
    return result;
}

bool removeTemplate(const QString& templatesPath, TemplateCatalog& catalog, const QString& header, int index) {
    IniDocument doc;
    if (!doc.open(templatesPath, true))
        return false;
    doc.removeGroup(header);
    if (!doc.close())
        return false;
    if (index >= 0 && index < catalog.size())
        catalog.removeAt(index);
    return true;
}

} // namespace plinket
