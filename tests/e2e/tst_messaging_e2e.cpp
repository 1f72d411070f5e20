// The console's messaging against real clients on separate hosts: every client runs in a network
// namespace of its own (tests/support/netns.h); the console runs in the lab's console namespace as
// this test binary, with the real main window, tree model, report listener and Send controller on the
// offscreen platform. Real plinket_client programs answer "1" (their pop-up stays open, nobody presses
// OK); plinket_loadgen responders answer "1" and then "2", standing in for a user who confirms.

#include "client_directory.h"
#include "console_icons.h"
#include "journal_capture.h"
#include "language.h"
#include "main_window.h"
#include "message_editor.h"
#include "messaging_seam.h"
#include "netns.h"
#include "protocol.h"
#include "recipient_tree_model.h"
#include "status_images.h"
#include "templates.h"

#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

using namespace plinket;
using plinket::test::JournalCapture;
using plinket::test::JournalRecord;
using plinket::test::NetnsLab;

namespace {

// The waiting period of the per-recipient send: longer than the resolver's time-out below, so the
// unresolvable name is settled before the round closes.
constexpr int WAIT_SECONDS = 6;
// How long a real client may take to answer on a busy machine (its first pop-up builds fonts and styles).
constexpr int ANSWER_TIMEOUT_MS = 30000;
// The console namespace's resolver asks an address on the lab's bridge that nobody holds, and gives
// up after this long: an unresolvable name fails slowly, in a controlled way, and no query leaves the lab.
constexpr int RESOLVER_TIMEOUT_S = 2;
const QString BLACK_HOLE = u"10.250.0.250"_qs;

// The console as plinket_server builds it, in this process. Deliberately never destroyed: the report
// listener thread keeps using the records until the process ends, as in the console.
struct LabConsole {
    QTemporaryDir dir;
    RecipientList recipients;
    QMutex lock;
    BroadcastSetting broadcast;
    TemplateCatalog templates;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<RecipientTreeModel> model;
    std::unique_ptr<ConsoleContext> context;
    std::unique_ptr<DeliveryController> controller;
    bool listening = false;

    static bool waitForReportPort() {
        // /proc/net/udp lists this namespace's sockets; a local address ends in ":B818" (47128).
        const QByteArray port = ':' + QByteArray::number(REPORT_PORT, 16).toUpper() + ' ';
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            QFile table(u"/proc/net/udp"_qs);
            if (table.open(QIODevice::ReadOnly) && table.readAll().contains(port))
                return true;
            QThread::msleep(10);
        }
        return false;
    }

    LabConsole(const QByteArray& clientsIni, BroadcastSnapshot broadcastSetting, int waitSeconds)
        : broadcast(broadcastSetting) {
        QFile file(dir.filePath(u"clients.ini"_qs));
        if (file.open(QIODevice::WriteOnly))
            file.write(clientsIni);
        file.close();
        recipients = loadRecipients(file.fileName());
        (void)applyLanguage(u"EN"_qs);
        window = std::make_unique<MainWindow>(MainWindowTexts::inLanguage(u"EN"), drawConsoleIcons(), templates,
                                              dir.filePath(u"templates.ini"_qs), broadcast, waitSeconds, 0);
        model = std::make_unique<RecipientTreeModel>(recipients, lock, u"All clients"_qs, drawStatusImages(Qt::white));
        window->setRecipientModel(model.get());
        window->show();
        context = std::make_unique<ConsoleContext>(
            ConsoleContext{recipients, lock, broadcast, *window, *model, u"EN"_qs, QString()});
        startReportListener(*context);
        // The listener binds its port on its own thread; a report that came before would be refused.
        listening = waitForReportPort();
        context->senderName = QSysInfo::machineHostName().toUpper();
        controller = createDeliveryController(*context);
        window->setDeliveryController(controller.get());
    }

    // Ticks "All clients" as a click on its box does, types the message and presses Send.
    void tickAllAndSend(const QString& text) {
        model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole);
        window->findChild<MessageEditor*>(u"messageEditor"_qs)->setMessageText(text);
        window->findChild<QPushButton*>(u"sendButton"_qs)->click();
    }
    int indexOf(const QString& name) {
        QMutexLocker l(&lock);
        for (int i = 0; i < recipients.size(); ++i)
            if (recipients.at(i).name == name)
                return i;
        return -1;
    }
    RecipientRecord record(int index) {
        QMutexLocker l(&lock);
        return recipients.at(index);
    }
    quint8 status(const QString& name) { return record(indexOf(name)).deliveryStatus; }
    // The image the tree shows for a record is the one for its status: the model reads it from the record.
    bool modelShowsImage(const QString& name) {
        return !model->data(model->indexOfRecord(indexOf(name)), Qt::DecorationRole).isNull();
    }
};

QByteArray clientsIni(const QStringList& lines) {
    return "\xEF\xBB\xBF;Plinket Clients v2\r\n\r\n" + lines.join(u"\r\n"_qs).toUtf8() + "\r\n";
}

// Starts a real client in client namespace i, with its own runtime folder (its own logon session).
bool startRealClient(NetnsLab& lab, int i, std::vector<std::unique_ptr<QTemporaryDir>>& runtimeDirs) {
    runtimeDirs.push_back(std::make_unique<QTemporaryDir>());
    QFile::setPermissions(runtimeDirs.back()->path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
    env.insert(u"XDG_RUNTIME_DIR"_qs, runtimeDirs.back()->path());
    return lab.startInClient(i, QStringLiteral(PLINKET_CLIENT_PATH), {}, env) &&
           lab.waitForUdpPort(lab.clientNamespace(i), MESSAGE_PORT);
}

// Waits until `count` real clients wrote their start-up event (event 100, the last step before they
// read their socket), so that no message reaches a client that is still starting on a busy machine.
bool clientsStarted(JournalCapture& journal, int count, int timeoutMs = 60000) {
    QDeadlineTimer deadline(timeoutMs);
    for (int wanted = 1; !deadline.hasExpired(); ++wanted) {
        int started = 0;
        for (const JournalRecord& r : journal.waitForRecords(wanted, 200))
            started += r.value("SYSLOG_IDENTIFIER") == "Plinket Client" && r.value("PLINKET_EVENT_ID") == "100";
        if (started >= count)
            return true;
    }
    return false;
}

// Real clients in namespaces 0 and 1, waited for until both have written their start-up event, so
// that no message is sent before they listen. Returns what went wrong, or nothing.
QString startTwoRealClients(NetnsLab& lab, std::vector<std::unique_ptr<QTemporaryDir>>& runtimeDirs) {
    JournalCapture startup;
    if (!startup.start())
        return u"cannot stand in for the journal"_qs;
    for (int i = 0; i < 2; ++i) {
        if (!startRealClient(lab, i, runtimeDirs))
            return u"plinket_client %1 did not start"_qs.arg(i);
    }
    return clientsStarted(startup, 2) ? QString() : u"plinket_client did not finish starting"_qs;
}

// A responder in client namespace i that confirms each message `confirmMs` after showing it.
QProcess* startResponder(NetnsLab& lab, int i, int confirmMs) {
    QProcess* p = lab.startInClient(i, QStringLiteral(PLINKET_LOADGEN_PATH),
                                    {u"--responder"_qs, u"--duration-s"_qs, u"60"_qs, u"--max-messages"_qs, u"10"_qs,
                                     u"--delay2-ms"_qs, QString::number(confirmMs)});
    return p && NetnsLab::waitForOutput(p, "listening on") ? p : nullptr;
}

// Whether a responder, once stopped, says it took exactly `count` message datagrams.
bool responderTook(QProcess* responder, int count) {
    responder->terminate();
    return NetnsLab::waitForOutput(responder, "datagrams_received=" + QByteArray::number(count) + ' ');
}

bool writeConsoleResolver(const NetnsLab& lab) {
    QFile file(u"/etc/netns/"_qs + lab.consoleNamespace() + u"/resolv.conf"_qs);
    const QByteArray text = "nameserver " + BLACK_HOLE.toLatin1() +
                            "\noptions timeout:" + QByteArray::number(RESOLVER_TIMEOUT_S) + " attempts:1\n";
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

} // namespace

class TestMessagingE2e final : public QObject {
    Q_OBJECT

private slots:
    // Per-recipient send to two real clients (one by address, one by a name from the console's hosts
    // file), a confirming responder listed under two groups (by address and by FQDN) and a name that no
    // resolver knows. The known ones turn Delivered / Confirmed while the unknown name is still being
    // resolved; at the end of the waiting period it is "Not delivered" and event 101 lists everyone.
    void perRecipientSend() {
        if (NetnsLab::insideConsole())
            return consolePerRecipient();
        NetnsLab lab;
        if (!lab.create(3))
            QSKIP(qPrintable(lab.reason()));
        if (!JournalCapture::available())
            QSKIP(qPrintable(JournalCapture::unavailableReason()));
        QVERIFY(writeConsoleResolver(lab));
        std::vector<std::unique_ptr<QTemporaryDir>> runtimeDirs;
        const QString clientTrouble = startTwoRealClients(lab, runtimeDirs);
        QVERIFY2(clientTrouble.isEmpty(), qPrintable(clientTrouble));
        QProcess* responder = startResponder(lab, 2, 1500);
        QVERIFY2(responder, "responder did not start");
        QString output;
        QVERIFY2(lab.runSelfInConsole(QString::fromLatin1(QTest::currentTestFunction()), &output, 90000),
                 qPrintable(output));
        QVERIFY(responderTook(responder, 2)); // listed twice, sent twice
    }

    // Broadcast mode: "All clients" ticked and broadcast on. One datagram, to the lab's subnet broadcast
    // address or to 255.255.255.255 (sent from inside the console namespace, whose limited broadcast is
    // routed onto the lab bridge), reaches every client; every record carries the id.
    void broadcastSend_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("subnet broadcast") << NetnsLab::broadcastAddress();
        QTest::newRow("limited broadcast") << u"255.255.255.255"_qs;
    }
    void broadcastSend() {
        QFETCH(QString, address);
        if (NetnsLab::insideConsole())
            return consoleBroadcast(address);
        NetnsLab lab;
        if (!lab.create(3))
            QSKIP(qPrintable(lab.reason()));
        QByteArray routeOutput;
        QCOMPARE(lab.run(lab.consoleNamespace(), u"ip"_qs,
                         {u"route"_qs, u"add"_qs, u"255.255.255.255/32"_qs, u"dev"_qs, u"plkbr0"_qs}, &routeOutput),
                 0);
        if (!JournalCapture::available())
            QSKIP(qPrintable(JournalCapture::unavailableReason()));
        std::vector<std::unique_ptr<QTemporaryDir>> runtimeDirs;
        const QString clientTrouble = startTwoRealClients(lab, runtimeDirs);
        QVERIFY2(clientTrouble.isEmpty(), qPrintable(clientTrouble));
        QProcess* responder = startResponder(lab, 2, 100);
        QVERIFY2(responder, "responder did not start");
        QString output;
        const QString function =
            QString::fromLatin1(QTest::currentTestFunction()) + u':' + QString::fromLatin1(QTest::currentDataTag());
        QVERIFY2(lab.runSelfInConsole(function, &output, 60000), qPrintable(output));
        QVERIFY(responderTook(responder, 1));
    }

private:
    void consolePerRecipient() {
        const NetnsLab lab = NetnsLab::attached();
        JournalCapture journal;
        QVERIFY(journal.start());
        auto* console = new LabConsole(
            clientsIni({u"[+Office]"_qs, u"  PC-0 = "_qs + NetnsLab::clientAddress(0),
                        u"  PC-1 = "_qs + lab.clientHostName(1), u"  [+Desk]"_qs,
                        u"    PC-2 = "_qs + NetnsLab::clientAddress(2), u"  [-Desk]"_qs, u"  Ghost = ghost.invalid"_qs,
                        u"[-Office]"_qs, u"[+Second]"_qs, u"  PC-2 again = "_qs + lab.clientFqdn(2), u"[-Second]"_qs}),
            BroadcastSnapshot{0, QString()}, WAIT_SECONDS);
        QVERIFY(console->listening);
        const int pc2 = console->indexOf(u"PC-2"_qs);
        const int desk = console->indexOf(u"Desk"_qs);
        const int ghost = console->indexOf(u"Ghost"_qs);

        // What the tree was told, change by change: the images of PC-2 and its group, and whether the
        // unknown name had been reached when PC-2 (sent after it in tree order) first showed "Delivered".
        QList<quint8> pc2Images, deskImages;
        qint32 ghostIdWhenPc2Delivered = -1;
        QObject::connect(console->model.get(), &QAbstractItemModel::dataChanged, [&] {
            const quint8 now = console->record(pc2).deliveryStatus;
            if (pc2Images.isEmpty() || pc2Images.last() != now) {
                pc2Images.append(now);
                if (now == STATUS_DELIVERED && ghostIdWhenPc2Delivered < 0)
                    ghostIdWhenPc2Delivered = console->record(ghost).messageId;
            }
            const quint8 group = console->record(desk).deliveryStatus;
            if (deskImages.isEmpty() || deskImages.last() != group)
                deskImages.append(group);
        });
        // The records as the round closed them (this runs right after the console's own timer slot).
        QList<RecipientRecord> atClose;
        QObject::connect(&console->window->deliveryTimer(), &QTimer::timeout, [&] {
            if (atClose.isEmpty() && !console->window->deliveryTimer().isActive())
                for (int i = 0; i < console->recipients.size(); ++i)
                    atClose.append(console->record(i));
        });

        const QString text = u"Fire drill at 15:00\r\nPlease leave by the east stairs."_qs;
        console->tickAllAndSend(text);

        // Every known recipient answers (the real clients with "1"; the responder with "1", then "2" 1.5 s
        // later, for each of its two records), also if a real client answers only after the round closed.
        const auto statuses = [&] {
            QStringList all;
            for (const QString& name : {u"PC-0"_qs, u"PC-1"_qs, u"PC-2"_qs, u"PC-2 again"_qs})
                all.append(QString::number(console->status(name)));
            return all.join(u' ');
        };
        QTRY_COMPARE_WITH_TIMEOUT(statuses(), u"1 1 2 2"_qs, ANSWER_TIMEOUT_MS);
        // Delivered, then confirmed, for the client and for its group.
        // (A confirmed record never changes again, so "Delivered" seen and "Confirmed" last means in that order.)
        // The tree hears of each change shortly after the record changes: wait for the last one.
        QTRY_COMPARE(pc2Images.last(), STATUS_CONFIRMED);
        QVERIFY(pc2Images.contains(STATUS_DELIVERED));
        QTRY_COMPARE(deskImages.last(), STATUS_CONFIRMED);
        QVERIFY(deskImages.contains(STATUS_DELIVERED));
        QCOMPARE(console->status(u"Second"_qs), STATUS_CONFIRMED);
        // The unknown name held nobody up: PC-2 had its answer while the name was still being resolved.
        QCOMPARE(ghostIdWhenPc2Delivered, 0);
        QVERIFY(console->modelShowsImage(u"PC-0"_qs));

        // The waiting period ends: the unknown name is "Not delivered", and so is its group's image.
        QTRY_VERIFY_WITH_TIMEOUT(!atClose.isEmpty(), (WAIT_SECONDS + 30) * 1000);
        QCOMPARE(console->status(u"Ghost"_qs), STATUS_NOT_DELIVERED);
        QCOMPARE(console->status(u"Office"_qs), quint8(7));
        QCOMPARE(console->record(0).deliveryStatus, quint8(7));

        // Event 101: the id, the text, and one line per checked client as the round found it.
        QString expected;
        for (const RecipientRecord& r : std::as_const(atClose)) {
            if (r.isGroup)
                continue;
            const QString when = u" in "_qs + r.reportTime;
            expected += r.name + u"\t= "_qs +
                        (r.deliveryStatus == STATUS_DELIVERED   ? u"Delivered"_qs + when
                         : r.deliveryStatus == STATUS_CONFIRMED ? u"Confirmed"_qs + when
                                                                : u"Not delivered"_qs) +
                        u"\r\n"_qs;
        }
        QVERIFY(expected.contains(u"PC-2\t= Confirmed in "_qs));
        QVERIFY(expected.contains(u"Ghost\t= Not delivered\r\n"_qs));
        const QString id = QString::number(console->record(console->indexOf(u"PC-0"_qs)).messageId);

        JournalRecord event;
        QDeadlineTimer deadline(5000);
        for (int wanted = 1; event.isEmpty() && !deadline.hasExpired(); ++wanted) {
            for (const JournalRecord& r : journal.waitForRecords(wanted, 500))
                if (r.value("SYSLOG_IDENTIFIER") == "Plinket Server" && r.value("PLINKET_EVENT_ID") == "101")
                    event = r;
        }
        QVERIFY2(!event.isEmpty(), "no event 101 from the console");
        QCOMPARE(test::insertionStrings(event), (QByteArrayList{id.toUtf8(), text.toUtf8(), expected.toUtf8()}));
        QVERIFY(QString::fromUtf8(event.value("MESSAGE")).startsWith(u"Message ID: "_qs + id));
    }

    void consoleBroadcast(const QString& address) {
        const NetnsLab lab = NetnsLab::attached();
        auto* console =
            new LabConsole(clientsIni({u"[+Office]"_qs, u"  PC-0 = "_qs + NetnsLab::clientAddress(0), u"  [+Inner]"_qs,
                                       u"    PC-1 = "_qs + lab.clientHostName(1), u"  [-Inner]"_qs, u"[-Office]"_qs,
                                       u"[+Desk]"_qs, u"  PC-2 = "_qs + lab.clientFqdn(2), u"[-Desk]"_qs}),
                           BroadcastSnapshot{1, address}, 100);
        QVERIFY(console->listening);
        console->tickAllAndSend(u"Broadcast check"_qs);
        const auto statuses = [&] {
            return QStringLiteral("%1 %2 %3")
                .arg(console->status(u"PC-0"_qs))
                .arg(console->status(u"PC-1"_qs))
                .arg(console->status(u"PC-2"_qs));
        };
        QTRY_COMPARE_WITH_TIMEOUT(statuses(), u"1 1 2"_qs, ANSWER_TIMEOUT_MS);
        const qint32 id = console->record(console->indexOf(u"PC-0"_qs)).messageId;
        QVERIFY(id != 0);
        for (int i = 0; i < console->recipients.size(); ++i)
            QCOMPARE(console->record(i).messageId, id);
        QCOMPARE(console->status(u"Office"_qs), STATUS_DELIVERED);
        QCOMPARE(console->record(0).deliveryStatus, quint8(STATUS_DELIVERED | STATUS_CONFIRMED));
    }
};

QTEST_MAIN(TestMessagingE2e)
#include "tst_messaging_e2e.moc"
