#include "client_directory.h"

#include "atomic_file.h"
#include "ini_document.h"
#include "regular_file.h"

#include <QFileInfo>

namespace plinket {

namespace {

const QByteArray UTF8_BOM = QByteArrayLiteral("\xEF\xBB\xBF");

QByteArray withoutBom(const QByteArray& bytes) {
    return bytes.startsWith(UTF8_BOM) ? bytes.mid(3) : bytes;
}

QByteArray firstLine(const QByteArray& text) {
    qsizetype end = 0;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n')
        ++end;
    return text.left(end);
}

QByteArray trimSpaces(const QByteArray& line) {
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && line[begin] == ' ')
        ++begin;
    while (end > begin && line[end - 1] == ' ')
        --end;
    return line.mid(begin, end - begin);
}

// Group headers of the current format ("[+name]") and none that only the old format writes (a
// header whose name starts with neither "+" nor "-"). Headers are found as the conversion finds
// them: lines starting with "[" once blanks are trimmed.
bool isGroupFormat(const QByteArray& text) {
    bool opensGroups = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        for (const QByteArray& line : rawLine.split('\r')) {
            const QByteArray trimmed = trimSpaces(line);
            if (!trimmed.startsWith('['))
                continue;
            if (trimmed.startsWith("[+"))
                opensGroups = true;
            else if (!trimmed.startsWith("[-"))
                return false;
        }
    }
    return opensGroups;
}

} // namespace

bool ensureClientsFile(const QString& clientsPath) {
    switch (readRegularFile(clientsPath, nullptr)) {
    case FileReadStatus::Read:
        return true;
    case FileReadStatus::Missing:
        return writeFileAtomically(clientsPath, UTF8_BOM + CLIENTS_VERSION_LINE + "\r\n");
    case FileReadStatus::Unreadable:
        break;
    }
    return false; // the administrator's directory is never replaced by an empty one
}

QByteArray convertOldClientsFile(const QByteArray& oldBytes) {
    QByteArray out = UTF8_BOM + CLIENTS_VERSION_LINE + "\r\n\r\n";
    QByteArray group;
    const char* p = oldBytes.constData();
    const char* end = p + oldBytes.size();
    while (p <= end) {
        const char* lineEnd = p;
        while (lineEnd != end && *lineEnd != '\r' && *lineEnd != '\n')
            ++lineEnd;
        const QByteArray line = trimSpaces(QByteArray(p, lineEnd - p));
        if (line.startsWith('[')) {
            if (!group.isEmpty())
                out.append("[-").append(group.mid(1)).append("\r\n\r\n");
            out.append("[+").append(line.mid(1)).append("\r\n");
            group = line;
        } else if (!line.isEmpty()) {
            out.append("  ").append(line).append("\r\n");
        }
        if (lineEnd == end)
            break;
        p = lineEnd + 1;
    }
    if (!group.isEmpty())
        out.append("[-").append(group.mid(1));
    return out;
}

MigrationResult migrateClientsFile(const QString& clientsPath) {
    MigrationResult result;
    result.backupPath = clientsPath + u".bak"_qs;
    QByteArray original;
    if (!readWholeFile(clientsPath, &original)) {
        result.status = MigrationStatus::NotReadable;
        return result;
    }
    const QByteArray text = withoutBom(original);
    if (firstLine(text) == CLIENTS_VERSION_LINE) {
        result.status = MigrationStatus::Current;
        return result;
    }
    if (isGroupFormat(text)) {
        const QByteArray mark = original.startsWith(UTF8_BOM) ? UTF8_BOM : QByteArray();
        const bool added =
            writeFileAtomically(clientsPath, mark + CLIENTS_VERSION_LINE + "\r\n" + text, &result.detail);
        result.status = added ? MigrationStatus::MarkerAdded : MigrationStatus::MarkerFailed;
        return result;
    }

    // The backup must hold the complete old content before clients.ini is touched. An existing
    // backup may be the only copy of an earlier file, so it is kept unless it already is this copy.
    if (QFileInfo::exists(result.backupPath) || QFileInfo(result.backupPath).isSymLink()) {
        QByteArray existing;
        if (!readWholeFile(result.backupPath, &existing) || existing != original) {
            result.status = MigrationStatus::BackupExists;
            return result;
        }
    } else {
        QByteArray written;
        if (!writeFileAtomically(result.backupPath, original, &result.detail) ||
            !readWholeFile(result.backupPath, &written) || written != original) {
            result.status = MigrationStatus::BackupFailed;
            return result;
        }
    }

    if (!writeFileAtomically(clientsPath, convertOldClientsFile(text), &result.detail)) {
        result.status = MigrationStatus::WriteFailed;
        return result;
    }
    result.status = MigrationStatus::Converted;
    return result;
}

QString migrationNotice(const MigrationResult& result, const QString& languageCode) {
    const bool english = languageCode == u"EN"_qs;
    QString text;
    switch (result.status) {
    case MigrationStatus::MarkerAdded:
        return english
                   ? u"clients.ini had no first line \";Plinket Clients v2\", but its groups are already "
                     u"written in the current format. It was not converted; only that line was added at the top."_qs
                   : u"В файле clients.ini не было первой строки \";Plinket Clients v2\", но группы в нём уже "
                     u"записаны в текущем формате. Файл не преобразован, в его начало добавлена только эта строка."_qs;
    case MigrationStatus::MarkerFailed:
        text = english ? u"clients.ini has no first line \";Plinket Clients v2\", but its groups are already "
                         u"written in the current format. That line could not be added at the top."_qs
                       : u"В файле clients.ini нет первой строки \";Plinket Clients v2\", но группы в нём уже "
                         u"записаны в текущем формате. Добавить эту строку в начало файла не удалось."_qs;
        break;
    case MigrationStatus::BackupExists:
        text = (english ? u"clients.ini is in the old format and was not converted, because the backup file %1 "
                          u"already exists. Move that file away and restart the program to convert clients.ini."_qs
                        : u"Файл clients.ini в старом формате не преобразован, потому что резервная копия %1 уже "
                          u"существует. Переместите этот файл и перезапустите программу, чтобы преобразовать "
                          u"clients.ini."_qs)
                   .arg(result.backupPath);
        break;
    case MigrationStatus::BackupFailed:
        text = (english ? u"clients.ini is in the old format and was not converted, because the backup file %1 "
                          u"could not be written."_qs
                        : u"Файл clients.ini в старом формате не преобразован, потому что не удалось записать "
                          u"резервную копию %1."_qs)
                   .arg(result.backupPath);
        break;
    case MigrationStatus::WriteFailed:
        text = (english ? u"clients.ini is in the old format and was not converted, because the converted file "
                          u"could not be written. Its old content is saved in %1."_qs
                        : u"Файл clients.ini в старом формате не преобразован, потому что не удалось записать "
                          u"преобразованный файл. Его прежнее содержимое сохранено в %1."_qs)
                   .arg(result.backupPath);
        break;
    default:
        return {};
    }
    if (!result.detail.isEmpty())
        text += u" ("_qs + result.detail + u")"_qs;
    text += english ? u"\r\nThe file was loaded as it is."_qs : u"\r\nФайл загружен как есть."_qs;
    return text;
}

RecipientList loadRecipients(const QString& clientsPath) {
    std::vector<RecipientRecord> records;
    RecipientRecord root;
    root.name = QString::fromLatin1(ROOT_RECORD_NAME);
    root.isGroup = 1;
    root.parentIndex = -1;
    root.level = 0;
    records.push_back(root);

    IniDocument doc;
    doc.open(clientsPath); // a file that cannot be read gives the root alone
    int depth = 0;
    int parent = 0;
    doc.beginGroups();
    while (doc.nextGroup()) {
        const QString group = doc.groupName();
        if (group.startsWith(u'+')) {
            ++depth;
            RecipientRecord r;
            r.name = group.mid(1);
            r.isGroup = 1;
            r.parentIndex = parent;
            r.level = depth;
            parent = int(records.size());
            records.push_back(std::move(r));
        } else if (depth > 0) {
            --depth;
            parent = records[size_t(parent)].parentIndex;
        }
        doc.beginKeys();
        while (doc.nextKey()) {
            RecipientRecord r;
            r.name = doc.keyName();
            r.host = doc.keyValue().toUpper();
            r.parentIndex = parent;
            r.level = depth + 1;
            records.push_back(std::move(r));
        }
    }
    doc.close();
    return RecipientList(std::move(records));
}

} // namespace plinket
