#include "client_directory.h"
#include "file_size_limit.h"
#include "recipient_list.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace plinket;
using plinket::test::BOM;
using plinket::test::readFileBytes;
using plinket::test::writeFileBytes;

namespace {

const QByteArray EXAMPLE = BOM + ";Plinket Clients v2\r\n"
                                 "\r\n"
                                 "[+Accounting]\r\n"
                                 "  PC-ACCOUNTING = 192.168.0.10\r\n"
                                 "  Chief accountant = PC-CHIEF\r\n"
                                 "[+Payroll]\r\n"
                                 "  Payroll desk = 192.168.0.12\r\n"
                                 "[-Payroll]\r\n"
                                 "  Cashier = 192.168.0.11\r\n"
                                 "[-Accounting]\r\n"
                                 "\r\n"
                                 "[+Warehouse]\r\n"
                                 "  Storekeeper = PC-STORE\r\n"
                                 "[-Warehouse]\r\n"
                                 "  Reception = 192.168.0.20\r\n";

// "name:parent:level" per record after the root, with "/host" for clients.
QStringList shape(const RecipientList& list) {
    QStringList out;
    for (int i = 1; i < list.size(); ++i) {
        const RecipientRecord& r = list.at(i);
        out << r.name + u':' + QString::number(r.parentIndex) + u':' + QString::number(r.level) +
                   (r.isGroup ? QString() : u'/' + r.host);
    }
    return out;
}

QString checks(const RecipientList& list) {
    QString out;
    for (int i = 0; i < list.size(); ++i)
        out += QString::number(list.at(i).checkState);
    return out;
}

// The straightforward algorithms, kept as the reference for the counted aggregates.
struct NaiveList {
    std::vector<RecipientRecord> r;

    quint8& field(int i, PropagationMode mode) {
        return mode == PropagationMode::Icons ? r[size_t(i)].deliveryStatus : r[size_t(i)].checkState;
    }
    void toAncestors(int index, quint8 value, PropagationMode mode) {
        field(index, mode) = value;
        for (int p = r[size_t(index)].parentIndex; p != -1; p = r[size_t(p)].parentIndex) {
            quint8 aggregate = 0;
            for (size_t j = size_t(p) + 1; j < r.size(); ++j) {
                if (r[j].parentIndex == p)
                    aggregate |= field(int(j), mode);
            }
            field(p, mode) = aggregate;
        }
    }
    void toDescendants(int g, quint8 s) {
        const int level = r[size_t(g)].level + 1;
        for (size_t j = size_t(g) + 1; j < r.size() && r[j].level >= level; ++j) {
            if (r[j].level == level) {
                r[j].checkState = s;
                if (r[j].isGroup)
                    toDescendants(int(j), s);
            }
        }
    }
    void check(int i, quint8 value) {
        if (r[size_t(i)].checkState == value)
            return;
        r[size_t(i)].checkState = value;
        if (r[size_t(i)].isGroup)
            toDescendants(i, value);
        toAncestors(i, value, PropagationMode::Check);
    }
};

QByteArray randomClientsFile(QRandomGenerator& rng, int lines) {
    QByteArray text = BOM + ";Plinket Clients v2\r\n";
    int depth = 0;
    for (int i = 0; i < lines; ++i) {
        const int pick = int(rng.bounded(10));
        if (pick < 2) {
            text += "[+g" + QByteArray::number(i) + "]\r\n";
            ++depth;
        } else if (pick < 4) {
            text += "[-]\r\n"; // sometimes with no group open: ignored
            depth = std::max(0, depth - 1);
        } else {
            text += "  c" + QByteArray::number(i) + " = h" + QByteArray::number(rng.bounded(5)) + "\r\n";
        }
    }
    return text;
}

} // namespace

class TestRecipients final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    RecipientList loadBytes(const QByteArray& bytes) {
        const QString file = m_dir.filePath(u"clients.ini"_qs);
        if (!writeFileBytes(file, bytes))
            qFatal("cannot write fixture");
        return loadRecipients(file);
    }

private slots:
    void exampleFile() {
        const RecipientList list = loadBytes(EXAMPLE);
        QCOMPARE(list.size(), 10);
        const RecipientRecord& root = list.at(0);
        QCOMPARE(root.name, u"MSG_Broadcast"_qs);
        QCOMPARE(root.isGroup, 1);
        QCOMPARE(root.parentIndex, -1);
        QCOMPARE(root.level, 0);
        QCOMPARE(shape(list),
                 (QStringList{u"Accounting:0:1"_qs, u"PC-ACCOUNTING:1:2/192.168.0.10"_qs,
                              u"Chief accountant:1:2/PC-CHIEF"_qs, u"Payroll:1:2"_qs,
                              u"Payroll desk:4:3/192.168.0.12"_qs, u"Cashier:1:2/192.168.0.11"_qs, u"Warehouse:0:1"_qs,
                              u"Storekeeper:7:2/PC-STORE"_qs, u"Reception:0:1/192.168.0.20"_qs}));
        for (int i = 0; i < list.size(); ++i) {
            QCOMPARE(list.at(i).checkState, CHECK_UNCHECKED);
            QCOMPARE(list.at(i).deliveryStatus, STATUS_WAITING);
            QCOMPARE(list.at(i).messageId, 0);
        }
        // What a tree model needs.
        QCOMPARE(list.children(0), (QList<int>{1, 7, 9}));
        QCOMPARE(list.children(1), (QList<int>{2, 3, 4, 6}));
        QCOMPARE(list.rowInParent(6), 3);
        QCOMPARE(list.rowInParent(9), 2);
        QCOMPARE(list.subtreeEnd(1), 7);
        QCOMPARE(list.subtreeEnd(0), 10);
        QVERIFY(list.children(2).isEmpty());
    }

    void loading_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("records");
        QTest::newRow("keys before the first header are not read")
            << BOM + ";Plinket Clients v2\r\nstray = 1.2.3.4\r\n[+G]\r\n a = b"
            << QStringList{u"G:0:1"_qs, u"a:1:2/B"_qs};
        QTest::newRow("stray closing headers are ignored")
            << BOM + "[-x]\r\n a = 1\r\n[-y]\r\n b = 2\r\n[+G]\r\n[-G]\r\n[-G]\r\n c = 3"
            << QStringList{u"a:0:1/1"_qs, u"b:0:1/2"_qs, u"G:0:1"_qs, u"c:0:1/3"_qs};
        QTest::newRow("any header but + closes") << BOM + "[+A]\r\n[+B]\r\n[Z]\r\n x = 1\r\n[]\r\n y = 2"
                                                 << QStringList{u"A:0:1"_qs, u"B:1:2"_qs, u"x:1:2/1"_qs, u"y:0:1/2"_qs};
        QTest::newRow("comments and empty lines ignored, empty group kept")
            << BOM + "[+A]\r\n\r\n; note\r\n\r\n[+Empty]\r\n[-Empty]\r\n  pc = host"
            << QStringList{u"A:0:1"_qs, u"Empty:1:2"_qs, u"pc:1:2/HOST"_qs};
        QTest::newRow("no value: empty host; hosts upper-cased beyond ASCII")
            << BOM + "[+A]\r\n lone\r\n cyr = pc-\xD0\xB6.corp"
            << QStringList{u"A:0:1"_qs, u"lone:1:2/"_qs, u"cyr:1:2/PC-\u0416.CORP"_qs};
        QTest::newRow("without the mark bytes are latin-1")
            << QByteArray("[+A]\r\n \xD0\xB6 = x") << QStringList{u"A:0:1"_qs, u"\u00D0\u00B6:1:2/X"_qs};
        QTest::newRow("duplicates kept") << BOM + "[+A]\r\n pc = h\r\n[-A]\r\n[+B]\r\n pc = h"
                                         << QStringList{u"A:0:1"_qs, u"pc:1:2/H"_qs, u"B:0:1"_qs, u"pc:3:2/H"_qs};
    }
    void loading() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, records);
        QCOMPARE(shape(loadBytes(file)), records);
    }

    void unreadableFileGivesRootOnly() {
        const RecipientList list = loadRecipients(m_dir.filePath(u"missing.ini"_qs));
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).name, u"MSG_Broadcast"_qs);
    }

    // Clicks in order (record indices of the example) and the check states of all 10 records.
    void checkPropagation_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QString>("states");
        QTest::newRow("tick Accounting") << QList<int>{1} << u"3222222111"_qs;
        QTest::newRow("then Warehouse and Reception") << QList<int>{1, 7, 9} << u"2222222222"_qs;
        QTest::newRow("all ticked, untick Payroll desk") << QList<int>{0, 5} << u"3322112222"_qs;
        QTest::newRow("partly checked becomes unchecked") << QList<int>{0, 5, 1} << u"3111111222"_qs;
        QTest::newRow("tick All clients ticks everything") << QList<int>{0} << u"2222222222"_qs;
        QTest::newRow("untick All clients") << QList<int>{0, 0} << u"1111111111"_qs;
        QTest::newRow("last client of a group") << QList<int>{5} << u"3311221111"_qs;
        QTest::newRow("client twice in two groups") << QList<int>{8} << u"3111111221"_qs;
    }
    void checkPropagation() {
        QFETCH(QList<int>, clicks);
        QFETCH(QString, states);
        RecipientList list = loadBytes(EXAMPLE);
        for (int i : clicks)
            list.toggleCheck(i);
        QCOMPARE(checks(list), states);
    }

    void emptyGroupEntersItsParent() {
        RecipientList list = loadBytes(BOM + "[+A]\r\n pc = 1\r\n[+Empty]\r\n[-Empty]\r\n");
        QCOMPARE(list.toggleCheck(3), (ChangedRecords{3, 1, 0}));
        QCOMPARE(checks(list), u"3312"_qs);
        QCOMPARE(list.applyCheck(3, CHECK_CHECKED), ChangedRecords{}); // no change, nothing reported
    }

    void deliveryStatus() {
        RecipientList list = loadBytes(EXAMPLE);
        list.setAllMessageIds(77);
        QCOMPARE(list.recordReport(5, STATUS_DELIVERED, u"14:05:09"_qs), (ChangedRecords{5, 4, 1, 0}));
        QCOMPARE(list.propagateToAncestors(6, STATUS_NOT_DELIVERED, PropagationMode::Icons), (ChangedRecords{6, 1, 0}));
        QCOMPARE(list.at(1).deliveryStatus, 5);
        QCOMPARE(list.at(5).reportTime, u"14:05:09"_qs);
        QCOMPARE(list.at(9).messageId, 77);
        const ChangedRecords reset = list.resetDeliveryState();
        QCOMPARE(QSet<int>(reset.begin(), reset.end()), (QSet<int>{0, 1, 4, 5, 6}));
        for (int i = 0; i < list.size(); ++i) {
            QCOMPARE(list.at(i).deliveryStatus, 0);
            QCOMPARE(list.at(i).messageId, 0);
        }
        // Counts start again from zero after the reset.
        QCOMPARE(list.propagateToAncestors(2, STATUS_CONFIRMED, PropagationMode::Icons), (ChangedRecords{2, 1, 0}));
        QCOMPARE(list.at(0).deliveryStatus, STATUS_CONFIRMED);
    }

    // The counted aggregates must give exactly what recomputing every ancestor from all its
    // children gives, for any tree and any sequence of updates, and report exactly the records
    // whose value changed.
    void matchesFullRescan() {
        QRandomGenerator rng(20240607);
        for (int round = 0; round < 60; ++round) {
            RecipientList list = loadBytes(randomClientsFile(rng, 5 + int(rng.bounded(120))));
            NaiveList naive{list.records()};
            for (int step = 0; step < 300; ++step) {
                const int i = int(rng.bounded(list.size()));
                const std::vector<RecipientRecord> before = list.records();
                ChangedRecords changed;
                const int op = int(rng.bounded(20));
                if (op < 8) {
                    const quint8 status = quint8(rng.bounded(8) == 0 ? rng.bounded(256) : (1u << rng.bounded(3)));
                    changed = list.propagateToAncestors(i, status, PropagationMode::Icons);
                    naive.toAncestors(i, status, PropagationMode::Icons);
                } else if (op < 17) {
                    const quint8 next = RecipientList::checkStateAfterClick(list.at(i).checkState);
                    changed = list.toggleCheck(i);
                    naive.check(i, next);
                } else if (op < 19) {
                    changed = list.applyCheck(i, CHECK_PARTIAL);
                    naive.check(i, CHECK_PARTIAL);
                } else {
                    changed = list.resetDeliveryState();
                    for (RecipientRecord& r : naive.r) {
                        r.deliveryStatus = 0;
                        r.messageId = 0;
                    }
                }
                QSet<int> expectedChanged;
                for (int k = 0; k < list.size(); ++k) {
                    const RecipientRecord& mine = list.at(k);
                    const RecipientRecord& ref = naive.r[size_t(k)];
                    if (mine.checkState != ref.checkState || mine.deliveryStatus != ref.deliveryStatus)
                        QFAIL(qPrintable(u"round %1 step %2: record %3 differs"_qs.arg(round).arg(step).arg(k)));
                    if (mine.checkState != before[size_t(k)].checkState ||
                        mine.deliveryStatus != before[size_t(k)].deliveryStatus)
                        expectedChanged.insert(k);
                }
                QCOMPARE(QSet<int>(changed.begin(), changed.end()), expectedChanged);
                QCOMPARE(changed.size(), expectedChanged.size());
            }
        }
    }

    void ensureFile() {
        const QString file = m_dir.filePath(u"ensure.ini"_qs);
        QVERIFY(ensureClientsFile(file));
        QCOMPARE(readFileBytes(file), BOM + ";Plinket Clients v2\r\n");
        QVERIFY(writeFileBytes(file, "mine"));
        QVERIFY(ensureClientsFile(file));
        QCOMPARE(readFileBytes(file), QByteArray("mine"));
        QVERIFY(!ensureClientsFile(m_dir.filePath(u"no/such/clients.ini"_qs)));
    }

    void migration_data() {
        QTest::addColumn<QByteArray>("old");
        QTest::addColumn<QByteArray>("converted");
        QTest::newRow("two groups")
            << QByteArray("[Office]\r\nPC-1=192.168.0.5\r\n\r\n[Store]\r\nPC-2=192.168.0.6\r\n")
            << BOM + ";Plinket Clients v2\r\n\r\n[+Office]\r\n  PC-1=192.168.0.5\r\n[-Office]\r\n\r\n[+Store]\r\n"
                     "  PC-2=192.168.0.6\r\n[-Store]";
        QTest::newRow("empty file") << QByteArray() << BOM + ";Plinket Clients v2\r\n\r\n";
        QTest::newRow("blanks trimmed, tabs and other bytes kept, lone line ends")
            << BOM + "  pc = 1  \r\t[G] \n\tx\xFF=y\r\r"
            << BOM + ";Plinket Clients v2\r\n\r\n  pc = 1\r\n  \t[G]\r\n"
                     "  \tx\xFF=y\r\n";
        QTest::newRow("a flat header among group headers")
            << QByteArray("[+A]\r\n[B]") << BOM + ";Plinket Clients v2\r\n\r\n[++A]\r\n[-+A]\r\n\r\n[+B]\r\n[-B]";
    }
    void migration() {
        QFETCH(QByteArray, old);
        QFETCH(QByteArray, converted);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"clients.ini"_qs);
        QVERIFY(writeFileBytes(file, old));
        const MigrationResult result = migrateClientsFile(file);
        QCOMPARE(result.status, MigrationStatus::Converted);
        QVERIFY(!result.needsNotice());
        QCOMPARE(readFileBytes(file), converted);
        QCOMPARE(readFileBytes(file + u".bak"_qs), old);
        QCOMPARE(migrateClientsFile(file).status, MigrationStatus::Current); // once per file
        QCOMPARE(readFileBytes(file), converted);
    }

    // Already in the group format, only the version line missing: the line is added, nothing else
    // changes, the administrator is told once.
    void groupFormatGetsOnlyTheVersionLine_data() {
        QTest::addColumn<QByteArray>("mark");
        QTest::addColumn<QByteArray>("text");
        const QByteArray groups = "[+Accounting]\r\n  PC = 1.2.3.4\r\n [+Payroll] \r\n[-Payroll]\r\n[-Accounting]";
        QTest::newRow("with byte-order mark") << BOM << groups;
        QTest::newRow("without") << QByteArray() << groups;
        QTest::newRow("version line differing in case") << BOM << ";plinket clients v2\r\n" + groups;
    }
    void groupFormatGetsOnlyTheVersionLine() {
        QFETCH(QByteArray, mark);
        QFETCH(QByteArray, text);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"clients.ini"_qs);
        QVERIFY(writeFileBytes(file, mark + text));
        const MigrationResult result = migrateClientsFile(file);
        QCOMPARE(result.status, MigrationStatus::MarkerAdded);
        QVERIFY(result.needsNotice() && !result.isProblem());
        QVERIFY(migrationNotice(result, u"EN"_qs).contains(u"only that line was added"_qs));
        QCOMPARE(readFileBytes(file), mark + ";Plinket Clients v2\r\n" + text);
        QVERIFY(!QFile::exists(file + u".bak"_qs));
        QCOMPARE(migrateClientsFile(file).status, MigrationStatus::Current);
        QCOMPARE(shape(loadRecipients(file)),
                 (QStringList{u"Accounting:0:1"_qs, u"PC:1:2/1.2.3.4"_qs, u"Payroll:1:2"_qs}));
    }

    void migrationNeverLosesTheOldFile() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"clients.ini"_qs);
        const QString backup = file + u".bak"_qs;
        const QByteArray old = "[Office]\r\nPC-1=1.2.3.4\r\n";

        // A different backup is in the way: nothing is converted or overwritten.
        QVERIFY(writeFileBytes(file, old));
        QVERIFY(writeFileBytes(backup, "earlier backup"));
        MigrationResult result = migrateClientsFile(file);
        QCOMPARE(result.status, MigrationStatus::BackupExists);
        QVERIFY(result.needsNotice());
        QVERIFY(migrationNotice(result, u"EN"_qs).contains(backup));
        QVERIFY(!migrationNotice(result, u"RU"_qs).isEmpty());
        QCOMPARE(readFileBytes(file), old);
        QCOMPARE(readFileBytes(backup), QByteArray("earlier backup"));
        // Loaded as it is: the flat header closes nothing, so the client lands under the root.
        QCOMPARE(shape(loadRecipients(file)), QStringList{u"PC-1:0:1/1.2.3.4"_qs});

        // A backup that is exactly this file counts as made.
        QVERIFY(writeFileBytes(backup, old));
        QCOMPARE(migrateClientsFile(file).status, MigrationStatus::Converted);

        // The backup cannot be written completely (the file size limit stands in for a full disk).
        QVERIFY(QFile::remove(backup));
        const QByteArray big = "[G]\r\n" + QByteArray(8192, 'x');
        QVERIFY(writeFileBytes(file, big));
        {
            FileSizeLimit limit(4096);
            if (!limit.active())
                QSKIP("no file size limit on this system");
            result = migrateClientsFile(file);
        }
        QCOMPARE(result.status, MigrationStatus::BackupFailed);
        QVERIFY(result.needsNotice());
        QCOMPARE(readFileBytes(file), big);
        QVERIFY(!QFile::exists(backup));
    }

    void currentFileIsLeftAlone() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"clients.ini"_qs);
        QVERIFY(writeFileBytes(file, EXAMPLE));
        QCOMPARE(migrateClientsFile(file).status, MigrationStatus::Current);
        QCOMPARE(readFileBytes(file), EXAMPLE);
        QVERIFY(!QFile::exists(file + u".bak"_qs));
        QCOMPARE(migrateClientsFile(dir.filePath(u"none.ini"_qs)).status, MigrationStatus::NotReadable);
    }
};

QTEST_APPLESS_MAIN(TestRecipients)
#include "tst_recipients.moc"
