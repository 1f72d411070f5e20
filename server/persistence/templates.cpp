#include "templates.h"

#include "atomic_file.h"
#include "ini_document.h"

#include <QFile>

namespace plinket {

namespace {

QString trimSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
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
    const QString text = trimSpaces(editorText);
    TemplateDraft draft;
    if (text.startsWith(u'"')) {
        const QStringList pieces = text.split(u'"');
        draft.header = trimSpaces(pieces.value(1));
        draft.body = trimSpaces(pieces.value(2));
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
    result.status = TemplateSaveStatus::WriteFailed;
    {
        QFile probe(templatesPath);
        if (!probe.open(QIODevice::ReadOnly) && !writeFileAtomically(templatesPath, QByteArrayLiteral("\xEF\xBB\xBF")))
            return result;
    }
    IniDocument doc;
    if (!doc.open(templatesPath, true))
        return result;
    int index = -1;
    if (doc.selectGroup(header))
        index = catalog.indexOfHeader(header);
    // A lone CR or LF would end the value's line in the file, so every break becomes CR LF first.
    const QString normalised = normaliseLineBreaks(body);
    doc.writeString(u"1"_qs, QString(normalised).replace(u"\r\n"_qs, u"|"_qs));
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
