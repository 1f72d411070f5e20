// clients.ini at start-up: any bytes as the file, through the console's own steps (the check, the
// conversion of an old-format file, the load), then check clicks and reports on the list.
//   The check passes and changes nothing; a conversion leaves the old bytes in clients.ini.bak and a
//   file that is current afterwards; a file already in the group format gets only its version line;
//   otherwise the file is untouched.
//   The list is a tree in display order; after every click and every report each group holds the
//   OR of its children, and the changes reported are exactly the records whose value changed.

#include "client_directory.h"
#include "fuzz_target.h"
#include "regular_file.h"

#include <QFile>

#include <algorithm>

using namespace plinket;
using plinket::fuzz::check;

namespace {

QByteArray fileBytes(const QString& path) {
    QByteArray bytes;
    readRegularFile(path, &bytes);
    return bytes;
}

void checkTree(const RecipientList& list) {
    check(list.size() >= 1 && list.at(0).parentIndex == -1 && list.at(0).isGroup == 1, "no root record");
    for (int i = 1; i < list.size(); ++i) {
        const RecipientRecord& r = list.at(i);
        check(r.parentIndex >= 0 && r.parentIndex < i, "a parent does not come before its child");
        const RecipientRecord& parent = list.at(r.parentIndex);
        check(parent.isGroup == 1 && r.level == parent.level + 1, "a record hangs below a client or at a wrong level");
        check(list.subtreeEnd(r.parentIndex) > i, "a record lies outside its parent's subtree");
    }
}

// Every group's value is the OR of its children's (a group without children keeps its own).
void checkAggregates(const RecipientList& list) {
    for (int i = 0; i < list.size(); ++i) {
        const QList<int>& children = list.children(i);
        if (children.isEmpty())
            continue;
        quint8 check = 0;
        quint8 status = 0;
        for (const int c : children) {
            check |= list.at(c).checkState;
            status |= list.at(c).deliveryStatus;
        }
        fuzz::check(list.at(i).checkState == check, "a group's check state is not the OR of its children");
        fuzz::check(list.at(i).deliveryStatus == status, "a group's status is not the OR of its children");
    }
}

// The records whose shown value differs between two snapshots, sorted.
QList<int> differences(const std::vector<RecipientRecord>& a, const std::vector<RecipientRecord>& b) {
    QList<int> out;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].checkState != b[i].checkState || a[i].deliveryStatus != b[i].deliveryStatus)
            out.append(int(i));
    }
    return out;
}

void checkChanges(const std::vector<RecipientRecord>& before, const RecipientList& list, ChangedRecords changed) {
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    check(changed == differences(before, list.records()), "the changes reported are not the records that changed");
}

} // namespace

PLINKET_FUZZ_TARGET(client_directory) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QString path = fuzz::scratchPath(u"clients.ini"_qs);
    const QString backup = path + u".bak"_qs;
    QFile::remove(backup);
    fuzz::putFile(path, bytes);

    check(ensureClientsFile(path), "an existing file fails the check");
    check(fileBytes(path) == bytes, "the check changed the file");
    const MigrationResult migration = migrateClientsFile(path);
    if (migration.status == MigrationStatus::Converted) {
        check(fileBytes(backup) == bytes, "the backup does not hold the old file");
        check(migrateClientsFile(path).status == MigrationStatus::Current, "a converted file is not current");
    } else if (migration.status == MigrationStatus::MarkerAdded) {
        const QByteArray text = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
        check(fileBytes(path).endsWith(text), "adding the version line changed the rest of the file");
        check(migrateClientsFile(path).status == MigrationStatus::Current,
              "a file with its version line added is not current");
    } else {
        check(migration.status == MigrationStatus::Current, "a writable folder did not take the conversion");
        check(fileBytes(path) == bytes, "a current file was changed");
    }

    RecipientList list = loadRecipients(path);
    checkTree(list);
    checkAggregates(list);

    // Clicks and reports on records picked by the input's bytes.
    const quint8 statuses[] = {STATUS_DELIVERED, STATUS_CONFIRMED, STATUS_NOT_DELIVERED, STATUS_WAITING};
    for (size_t i = 0; i < std::min<size_t>(size, 24); ++i) {
        const int index = int(data[i]) % list.size();
        const std::vector<RecipientRecord> before = list.records();
        if (data[i] & 0x80)
            checkChanges(before, list, list.toggleCheck(index));
        else if (!list.at(index).isGroup)
            checkChanges(before, list, list.recordReport(index, statuses[data[i] % 4], u"12:00:00"_qs));
        checkAggregates(list);
    }
    const std::vector<RecipientRecord> before = list.records();
    checkChanges(before, list, list.resetDeliveryState());
    for (const RecipientRecord& r : list.records())
        check(r.deliveryStatus == STATUS_WAITING && r.messageId == 0, "a record kept its status after a reset");
    return 0;
}
