#include "ini_document.h"

#include "atomic_file.h"

#include <QFile>
#include <QStringDecoder>

#include <limits>

namespace plinket {

namespace {

constexpr char CRLF[] = "\r\n";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// One line of the file (without its line end) to an entry; false for a line that gives none.
bool parseLine(const char* begin, const char* end, IniEntry* entry) {
    while (begin != end && isBlank(*begin))
        ++begin;
    if (begin == end)
        return false;
    if (*begin == ';') {
        ++begin;
        if (begin != end && *begin == ' ')
            ++begin;
        entry->kind = IniEntry::Kind::Comment;
        entry->name = QByteArray(begin, end - begin);
        entry->value.clear();
        return true;
    }
    if (*begin == '[') {
        ++begin;
        const char* close = begin;
        while (close != end && *close != ']')
            ++close;
        entry->kind = IniEntry::Kind::GroupHeader;
        entry->name = QByteArray(begin, close - begin);
        entry->value.clear();
        return true;
    }
    const char* equals = begin;
    while (equals != end && *equals != '=')
        ++equals;
    const char* keyEnd = equals;
    while (keyEnd != begin && isBlank(keyEnd[-1]))
        --keyEnd;
    entry->kind = IniEntry::Kind::KeyValue;
    entry->name = QByteArray(begin, keyEnd - begin);
    const char* value = equals == end ? end : equals + 1;
    while (value != end && isBlank(*value))
        ++value;
    entry->value = QByteArray(value, end - value);
    return true;
}

// Entry bytes as text. QString::fromUtf8 drops a leading byte-order mark; inside a file it is a
// character of a name or value like any other and must come back as it was saved.
QString entryText(const QByteArray& bytes) {
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes);
    // Stateless: a sequence cut at the end becomes U+FFFD, as with fromUtf8, instead of vanishing.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
}

bool isAscii(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

bool iniNamesEqual(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    const char* pa = a.constData();
    const char* pb = b.constData();
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (pa[i] != pb[i] && foldAscii(pa[i]) != foldAscii(pb[i]))
            return false;
    }
    return true;
}

QByteArray trimBlanksAndTabs(const QByteArray& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return (begin == 0 && end == text.size()) ? text : text.mid(begin, end - begin);
}

qint32 parseIniInteger(const QByteArray& text) {
    qsizetype i = 0;
    while (i < text.size() &&
           (isBlank(text[i]) || text[i] == '\r' || text[i] == '\n' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    qint64 magnitude = 0;
    constexpr qint64 limit = qint64(std::numeric_limits<qint32>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(limit, magnitude * 10 + (text[i] - '0'));
    const qint64 value = negative ? -magnitude : magnitude;
    return qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}

QList<IniEntry> IniDocument::parse(const QByteArray& fileBytes) {
    QByteArray text;
    if (fileBytes.size() >= 3 && fileBytes.startsWith("\xEF\xBB\xBF"))
        text = fileBytes.mid(3);
    else
        text = QString::fromLatin1(fileBytes).toUtf8(); // every byte is one character

    QList<IniEntry> entries;
    const char* p = text.constData();
    const char* end = p + text.size();
    IniEntry entry;
    while (p != end) {
        const char* lineEnd = p;
        while (lineEnd != end && *lineEnd != '\r' && *lineEnd != '\n')
            ++lineEnd;
        if (parseLine(p, lineEnd, &entry))
            entries.append(entry);
        p = lineEnd;
        while (p != end && (*p == '\r' || *p == '\n'))
            ++p;
    }
    return entries;
}

IniDocument::~IniDocument() {
    close();
}

void IniDocument::clear() {
    m_path.clear();
    m_entries.clear();
    m_currentGroup = -1;
    m_pendingGroup.clear();
    m_hasPending = false;
    m_groupSeparator = false;
    m_writeBom = false;
    m_modified = false;
    m_readOnly = false;
    m_open = false;
    m_groupPos = -1;
    m_keyPos = -1;
}

bool IniDocument::open(const QString& path, bool groupSeparator) {
    close();
    QByteArray bytes;
    m_openStatus = readRegularFile(path, &bytes);
    if (m_openStatus != FileReadStatus::Read)
        return false;
    // Known to be a regular file now, so this open cannot block. It fails when the file may not be
    // written (permissions, or another program holds it without sharing).
    QFile probe(path);
    const bool readOnly = !probe.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
    probe.close();

    m_entries = parse(bytes);
    m_path = path;
    m_groupSeparator = groupSeparator;
    m_writeBom = !bytes.isEmpty();
    m_readOnly = readOnly;
    m_open = true;
    return true;
}

bool IniDocument::create(const QString& path) {
    close();
    m_openStatus = FileReadStatus::Read;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.close();
    m_path = path;
    m_writeBom = true;
    m_open = true;
    return true;
}

bool IniDocument::close() {
    bool ok = true;
    if (m_open && m_modified)
        ok = !m_readOnly && writeFileAtomically(m_path, serialize());
    clear();
    return ok;
}

QByteArray IniDocument::serialize() const {
    QByteArray out;
    qsizetype size = 5;
    bool ascii = true;
    for (const IniEntry& e : m_entries) {
        size += e.name.size() + e.value.size() + 8;
        ascii = ascii && isAscii(e.name) && isAscii(e.value);
    }
    out.reserve(size);
    // Without the mark the file is read back byte by byte as ISO-8859-1, so a document read from an
    // empty file keeps its mark-less form only while it holds plain ASCII.
    if (m_writeBom || !ascii)
        out.append("\xEF\xBB\xBF\r\n");
    bool firstHeader = true;
    for (const IniEntry& e : m_entries) {
        switch (e.kind) {
        case IniEntry::Kind::GroupHeader:
            if (m_groupSeparator && !firstHeader)
                out.append(CRLF);
            firstHeader = false;
            out.append('[').append(e.name).append(']');
            break;
        case IniEntry::Kind::Comment:
            out.append("; ").append(e.name);
            break;
        case IniEntry::Kind::KeyValue:
            out.append(e.name).append(" = ").append(e.value);
            break;
        }
        out.append(CRLF);
    }
    return out;
}

int IniDocument::groupEnd(int header) const {
    for (int i = header + 1; i < m_entries.size(); ++i) {
        if (m_entries[i].kind == IniEntry::Kind::GroupHeader)
            return i;
    }
    return int(m_entries.size());
}

int IniDocument::findKey(const QByteArray& key) const {
    if (m_hasPending)
        return -1;
    for (int i = m_currentGroup + 1; i < m_entries.size(); ++i) {
        const IniEntry& e = m_entries[i];
        if (e.kind == IniEntry::Kind::GroupHeader)
            break;
        if (e.kind == IniEntry::Kind::KeyValue && iniNamesEqual(e.name, key))
            return i;
    }
    return -1;
}

bool IniDocument::selectGroup(const QString& name) {
    m_hasPending = false;
    m_pendingGroup.clear();
    if (name.isEmpty()) {
        m_currentGroup = -1;
        return true;
    }
    const QByteArray wanted = name.toUtf8();
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].kind == IniEntry::Kind::GroupHeader && iniNamesEqual(m_entries[i].name, wanted)) {
            m_currentGroup = i;
            return true;
        }
    }
    m_pendingGroup = wanted;
    m_hasPending = true;
    return false;
}

QString IniDocument::readString(const QString& key, const QString& defaultValue) const {
    const int i = findKey(key.toUtf8());
    return i < 0 ? defaultValue : entryText(trimBlanksAndTabs(m_entries[i].value));
}

qint32 IniDocument::readInteger(const QString& key, qint32 defaultValue) const {
    const int i = findKey(key.toUtf8());
    return i < 0 ? defaultValue : parseIniInteger(m_entries[i].value);
}

void IniDocument::writeString(const QString& key, const QString& value) {
    if (m_hasPending) {
        m_entries.append(IniEntry{IniEntry::Kind::GroupHeader, m_pendingGroup, {}});
        m_currentGroup = int(m_entries.size()) - 1;
        m_hasPending = false;
        m_pendingGroup.clear();
    }
    const QByteArray keyBytes = key.toUtf8();
    const int i = findKey(keyBytes);
    if (i >= 0) {
        m_entries[i].name = keyBytes;
        m_entries[i].value = value.toUtf8();
    } else {
        const int at = groupEnd(m_currentGroup);
        m_entries.insert(at, IniEntry{IniEntry::Kind::KeyValue, keyBytes, value.toUtf8()});
        // Enumeration positions behind the insertion move with their entries.
        if (m_groupPos >= at)
            ++m_groupPos;
        if (m_keyPos >= at)
            ++m_keyPos;
    }
    m_modified = true;
}

bool IniDocument::writeLastKey(const QString& value) {
    if (m_hasPending)
        return false;
    int last = -1;
    for (int i = m_currentGroup + 1; i < m_entries.size() && m_entries[i].kind != IniEntry::Kind::GroupHeader; ++i) {
        if (m_entries[i].kind == IniEntry::Kind::KeyValue)
            last = i;
    }
    if (last < 0)
        return false;
    m_entries[last].value = value.toUtf8();
    m_modified = true;
    return true;
}

void IniDocument::writeInteger(const QString& key, qint32 value) {
    writeString(key, QString::number(value));
}

bool IniDocument::removeGroup(const QString& name) {
    const QByteArray wanted = name.toUtf8();
    int header = -1;
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].kind == IniEntry::Kind::GroupHeader && iniNamesEqual(m_entries[i].name, wanted)) {
            header = i;
            break;
        }
    }
    if (header < 0)
        return false;
    const int end = groupEnd(header);
    const int count = end - header;
    m_entries.remove(header, count);
    auto shift = [&](int& pos) {
        if (pos >= end)
            pos -= count;
        else if (pos >= header)
            pos = header - 1;
    };
    if (m_currentGroup == header)
        m_currentGroup = -1;
    else
        shift(m_currentGroup);
    shift(m_groupPos);
    shift(m_keyPos);
    m_modified = true;
    return true;
}

int IniDocument::groupOrdinal() const {
    if (m_hasPending || m_currentGroup < 0)
        return -1;
    int ordinal = 0;
    for (int i = 0; i < m_currentGroup; ++i)
        ordinal += m_entries[i].kind == IniEntry::Kind::GroupHeader ? 1 : 0;
    return ordinal;
}

void IniDocument::beginGroups() {
    m_groupPos = -1;
    m_hasPending = false;
    m_pendingGroup.clear();
}

bool IniDocument::nextGroup() {
    for (int i = m_groupPos + 1; i < m_entries.size(); ++i) {
        if (m_entries[i].kind == IniEntry::Kind::GroupHeader) {
            m_groupPos = i;
            m_currentGroup = i;
            m_hasPending = false;
            m_pendingGroup.clear();
            return true;
        }
    }
    m_groupPos = int(m_entries.size());
    return false;
}

QString IniDocument::groupName() const {
    if (m_groupPos < 0 || m_groupPos >= m_entries.size())
        return {};
    return entryText(m_entries[m_groupPos].name);
}

void IniDocument::beginKeys() {
    // A pending group has no keys: start past the end.
    m_keyPos = m_hasPending ? int(m_entries.size()) : m_currentGroup;
}

bool IniDocument::nextKey() {
    for (int i = m_keyPos + 1; i < m_entries.size(); ++i) {
        const IniEntry& e = m_entries[i];
        if (e.kind == IniEntry::Kind::GroupHeader)
            break;
        if (e.kind == IniEntry::Kind::KeyValue) {
            m_keyPos = i;
            return true;
        }
    }
    m_keyPos = int(m_entries.size());
    return false;
}

QString IniDocument::keyName() const {
    if (m_keyPos < 0 || m_keyPos >= m_entries.size())
        return {};
    return entryText(m_entries[m_keyPos].name);
}

QString IniDocument::keyValue() const {
    if (m_keyPos < 0 || m_keyPos >= m_entries.size())
        return {};
    return entryText(trimBlanksAndTabs(m_entries[m_keyPos].value));
}

} // namespace plinket
