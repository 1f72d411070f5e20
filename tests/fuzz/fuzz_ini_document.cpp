// The INI dialect: any bytes as a file.
//   The document opened from the file holds exactly what parse() reads, one entry per line that is
//   not blank; its rewrite reads back as the same entries (no line lost or changed) and is a fixed
//   point: rewriting the rewrite gives the same bytes.
//   A write into a group named by the input (an existing one or a new one) reads back as written,
//   adds at most the header and the key, and the rewrite still reads back as the document.

#include "fuzz_target.h"
#include "ini_document.h"

#include <QStringDecoder>

using namespace plinket;
using plinket::fuzz::check;

namespace {

bool sameEntries(const QList<IniEntry>& a, const QList<IniEntry>& b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].name != b[i].name || a[i].value != b[i].value)
            return false;
    }
    return true;
}

// Lines with something besides blanks and tabs, each of which must give one entry.
qsizetype filledLines(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.mid(3);
    qsizetype count = 0;
    bool filled = false;
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            count += filled ? 1 : 0;
            filled = false;
        } else if (c != ' ' && c != '\t') {
            filled = true;
        }
    }
    return count + (filled ? 1 : 0);
}

// Text of the input fit to be a group name or a value: no line breaks, no "]", no NUL, no blanks or
// tabs at the ends. A leading U+FEFF is kept: it is text like any other.
QString fitText(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    text.remove(u'\r').remove(u'\n').remove(u']').remove(QChar(0));
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!text.isEmpty() && blank(text.back()))
        text.chop(1);
    qsizetype start = 0;
    while (start < text.size() && blank(text[start]))
        ++start;
    return text.mid(start);
}

} // namespace

PLINKET_FUZZ_TARGET(ini_document) {
    // An input that starts with a NUL byte stands for an empty file; the rest only names the write.
    const QByteArray input = fuzz::bytesOf(data, size);
    const QByteArray bytes = input.startsWith('\0') ? QByteArray() : input;
    const bool groupSeparator = size % 2 == 1;
    const QList<IniEntry> entries = IniDocument::parse(bytes);
    check(entries.size() == filledLines(bytes), "a line that is not blank gave no entry");

    const QString path = fuzz::scratchPath(u"fuzz.ini"_qs);
    fuzz::putFile(path, bytes);
    IniDocument doc;
    check(doc.open(path, groupSeparator), "a regular file does not open");
    check(sameEntries(doc.entries(), entries), "open() reads other entries than parse()");
    const QByteArray written = doc.serialize();
    check(sameEntries(IniDocument::parse(written), entries), "the rewrite reads back as other entries");

    fuzz::putFile(path, written);
    check(doc.open(path, groupSeparator), "the rewrite does not open");
    check(doc.serialize() == written, "rewriting the rewrite changes it");

    // A group of the file (the first header) or a new one named by the input, and a value from it.
    QString group = fitText(input.left(12));
    if (size % 3 == 0) {
        doc.beginGroups();
        if (doc.nextGroup())
            group = doc.groupName();
    }
    const QString value = fitText(input.right(20));
    const bool found = doc.selectGroup(group);
    const qsizetype before = doc.entries().size();
    doc.writeString(u"Fuzz"_qs, value);
    check(doc.readString(u"Fuzz"_qs, u"(none)"_qs) == value, "a written value reads back differently");
    check(doc.entries().size() - before <= (found ? 1 : 2), "a write added more than its header and key");
    check(sameEntries(IniDocument::parse(doc.serialize()), doc.entries()),
          "after a write the rewrite reads back as other entries");
    doc.close();
    return 0;
}
