// The console's messaging against real clients on separate hosts: every client runs in a network
// namespace of its own (tests/support/netns.h); the console runs in the lab's console namespace as
// this test binary, with the real main window, tree model, report listener and Send controller on the
// offscreen platform. Real plinket_client programs answer "1" (their pop-up stays open, nobody presses
// OK); plinket_loadgen responders answer "1" and then "2", standing in for a user who confirms. For
// signed messages the real clients run on virtual X displays, where the test presses OK with the mouse.

#include "client_directory.h"
#include "console_icons.h"
#include "journal_capture.h"
#include "language.h"
#include "main_window.h"
#include "message_editor.h"
#include "messaging_seam.h"
#include "netns.h"
#include "popup_layout.h"
#include "protocol.h"
#include "recipient_tree_model.h"
#include "signing_key_file.h"
#include "status_images.h"
#include "templates.h"
#include "udp_send.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <atomic>
#include <memory>
#include <thread>

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
// Signed messages: clients 1 to 3 show their pop-ups on these displays; client 0 runs offscreen.
const std::vector<int> DISPLAYS = {120, 121, 122};
constexpr char KEY_DIR_VARIABLE[] = "PLINKET_TEST_KEY_DIR";

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

    LabConsole(const QByteArray& clientsIni, BroadcastSnapshot broadcastSetting, int waitSeconds,
               std::shared_ptr<const SigningKey> signingKey = {})
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
        context->signingKey = std::move(signingKey);
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

// Starts a real client in client namespace i, with its own runtime folder (its own logon session),
// offscreen or on X display `display`.
bool startRealClient(NetnsLab& lab, int i, std::vector<std::unique_ptr<QTemporaryDir>>& runtimeDirs, int display = 0) {
    runtimeDirs.push_back(std::make_unique<QTemporaryDir>());
    QFile::setPermissions(runtimeDirs.back()->path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_qs, display ? u"xcb"_qs : u"offscreen"_qs);
    if (display)
        env.insert(u"DISPLAY"_qs, u":"_qs + QString::number(display));
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

// Xvfb on display :number, run by the lab (the display's socket is a file, reachable from every namespace).
bool startXvfb(NetnsLab& lab, int number) {
    const QString socket = u"/tmp/.X11-unix/X"_qs + QString::number(number);
    if (QFileInfo::exists(socket) ||
        !lab.startInConsole(u"Xvfb"_qs, {u":"_qs + QString::number(number), u"-nolisten"_qs, u"tcp"_qs}))
        return false;
    QDeadlineTimer deadline(10000);
    while (!QFileInfo::exists(socket) && !deadline.hasExpired())
        QThread::msleep(20);
    return QFileInfo::exists(socket);
}

// A user clicks OK on the next pop-up on display :number, once it is there (xdotool, through the X
// server's test extension). Without a window manager the window is its client area.
bool pressOk(int number) {
    // A pop-up being closed may still be visible for a moment; window ids count per display. The title
    // may go on: its age, the signer.
    static QSet<QByteArray> clicked;
    const auto xdotool = [number](const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DISPLAY"_qs, u":"_qs + QString::number(number));
        p.setProcessEnvironment(env);
        p.start(u"xdotool"_qs, args);
        return p.waitForFinished(5000) && p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray();
    };
    for (QDeadlineTimer deadline(ANSWER_TIMEOUT_MS); !deadline.hasExpired(); QThread::msleep(100)) {
        for (const QByteArray& window :
             xdotool({u"search"_qs, u"--onlyvisible"_qs, u"--name"_qs, u"^Message"_qs}).split('\n')) {
            QSize size;
            for (const QByteArray& line :
                 xdotool({u"getwindowgeometry"_qs, u"--shell"_qs, QString::fromLatin1(window)}).split('\n')) {
                if (line.startsWith("WIDTH="))
                    size.setWidth(line.mid(6).toInt());
                if (line.startsWith("HEIGHT="))
                    size.setHeight(line.mid(7).toInt());
            }
            const QByteArray id = QByteArray::number(number) + ':' + window;
            if (window.isEmpty() || clicked.contains(id) || !size.isValid())
                continue;
            clicked.insert(id);
            // A click within half a second of the pop-up becoming visible does not count: click until the
            // pop-up is gone.
            const QPoint ok = okButtonRectIn(size).center();
            const auto stillShown = [&] {
                return xdotool({u"search"_qs, u"--onlyvisible"_qs, u"--name"_qs, u"^Message"_qs})
                    .split('\n')
                    .contains(window);
            };
            do {
                xdotool({u"mousemove"_qs, u"--window"_qs, QString::fromLatin1(window), QString::number(ok.x()),
                         QString::number(ok.y()), u"click"_qs, u"1"_qs});
                for (QDeadlineTimer gone(700); stillShown() && !gone.hasExpired();)
                    QThread::msleep(50);
            } while (stillShown() && !deadline.hasExpired());
            return !stillShown();
        }
    }
    return false;
}

// Client i's events of one kind, as "ID" or (dropped) "ID reason", oldest first. Each client's crafted
// messages carry ids of its own: 1 for client 0, 101 to 106 for client 1, 201 to 206 for client 2, ...
QStringList clientEvents(const QList<JournalRecord>& records, const QByteArray& eventId, int client) {
    QStringList out;
    for (const JournalRecord& r : records) {
        const bool dropped = eventId == "106";
        const QByteArrayList strings = test::insertionStrings(r);
        const QByteArray id = dropped ? strings[2] : strings[1];
        if (r.value("PLINKET_EVENT_ID") == eventId && id.toInt() / 100 == client)
            out.append(QString::fromUtf8(dropped ? id + ' ' + strings[1] : id));
    }
    return out;
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

    // Signed messages. The console's key comes from the key generator and its public key file is
    // deployed to clients 1 to 3; client 0 has no /etc/plinket (today's client).
    //   client 1: require-signature = no       client 2: require-signature = yes
    //   client 3: a setting it cannot read (so signatures are required) and max-message-age = 2
    // First datagrams made by hand (unsigned, forged, tampered, stale, replayed) show which messages each
    // client shows, answers and journals as dropped; then the real console, with the key, sends one
    // message to clients 1 to 3, a user presses OK on each, and every one ends "Confirmed".
    void signedMessages() {
        if (NetnsLab::insideConsole())
            return consoleSignedMessages();
        NetnsLab lab;
        if (!lab.create(4))
            QSKIP(qPrintable(lab.reason()));
        if (!JournalCapture::available() || !NetnsLab::privateEtc())
            QSKIP("needs root under with_private_journal.sh with a private /etc");
        if (QStandardPaths::findExecutable(u"xdotool"_qs).isEmpty())
            QSKIP("needs xdotool");
        for (int display : DISPLAYS)
            QVERIFY2(startXvfb(lab, display), "Xvfb did not start, or the display is taken");
        QTemporaryDir keyDir;
        const KeyGeneration key = generateSigningKey(keyDir.path(), u"LAB-CONSOLE"_qs);
        QVERIFY2(key.ok, qPrintable(key.error));
        QCOMPARE(QFile::permissions(key.secretKeyPath),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QFile publicKey(key.publicKeyPath);
        QVERIFY(publicKey.open(QIODevice::ReadOnly));
        const QByteArray publicKeyFile = publicKey.readAll();
        for (int i = 1; i <= 3; ++i) {
            QVERIFY(lab.writeClientEtcFile(i, u"plinket/trusted-keys/lab-console.pub"_qs, publicKeyFile));
            const char* conf[] = {"", "require-signature = no\n", "require-signature = yes\n",
                                  "require-signature = maybe\nmax-message-age = 2\n"};
            QVERIFY(lab.writeClientEtcFile(i, u"plinket/client.conf"_qs, conf[i]));
        }
        JournalCapture journal;
        QVERIFY(journal.start());
        std::vector<std::unique_ptr<QTemporaryDir>> runtimeDirs;
        for (int i = 0; i < 4; ++i)
            QVERIFY(startRealClient(lab, i, runtimeDirs, i ? DISPLAYS[size_t(i - 1)] : 0));
        QVERIFY(clientsStarted(journal, 4));

        // The journal socket queues only a few records (net.unix.max_dgram_qlen) before a client's write
        // blocks: keep reading it while the console half runs.
        qputenv(KEY_DIR_VARIABLE, keyDir.path().toLocal8Bit());
        std::atomic<bool> consoleDone{false};
        std::thread reader([&] {
            while (!consoleDone)
                journal.waitForRecords(100000, 100);
        });
        QString output;
        const bool consolePassed =
            lab.runSelfInConsole(QString::fromLatin1(QTest::currentTestFunction()), &output, 120000);
        consoleDone = true;
        reader.join();
        QVERIFY2(consolePassed, qPrintable(output));

        const QList<JournalRecord> records = journal.waitForRecords(100000, 1000);
        // Today's client shows a signed message as any other: the fourth field is still the sender.
        QCOMPARE(clientEvents(records, "101", 0), QStringList{u"1"_qs});
        QCOMPARE(clientEvents(records, "102", 1), (QStringList{u"101"_qs, u"105"_qs, u"106"_qs}));
        QCOMPARE(clientEvents(records, "102", 2), (QStringList{u"205"_qs, u"206"_qs}));
        const QString stranger = u"unknown key "_qs + QString::fromLatin1(strangerKey().keyId());
        // The forged message came twice within a second: journaled once.
        QCOMPARE(clientEvents(records, "106", 1),
                 (QStringList{u"102 "_qs + stranger, u"103 bad signature"_qs, u"104 too old"_qs, u"105 replayed"_qs}));
        QCOMPARE(clientEvents(records, "106", 2),
                 (QStringList{u"201 unsigned"_qs, u"202 "_qs + stranger, u"203 bad signature"_qs, u"204 too old"_qs,
                              u"205 replayed"_qs}));
        // A message that waited behind a pop-up longer than max-message-age is still shown after OK; one
        // that was too old when it arrived is not.
        QCOMPARE(clientEvents(records, "106", 3), (QStringList{u"301 unsigned"_qs, u"304 too old"_qs}));
        QCOMPARE(clientEvents(records, "102", 3), (QStringList{u"302"_qs, u"303"_qs}));
        for (const JournalRecord& r : records)
            if (r.value("PLINKET_EVENT_ID") == "101" && test::insertionStrings(r)[1].toInt() < 1000)
                QCOMPARE(test::insertionStrings(r)[0], QByteArray("LAB-CONSOLE"));
    }

private:
    static const SigningKey& strangerKey() {
        static const SigningKey key = *SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x22'));
        return key;
    }

    void consoleSignedMessages() {
        const SigningKeyFile key = loadSigningKey(qEnvironmentVariable(KEY_DIR_VARIABLE));
        QCOMPARE(key.state, SigningKeyFile::State::Ready);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const auto message = [&](int id, const SigningKey* by, qint64 time = 0) {
            const QString d = formatMessageDatagram(u"EN"_qs, QString::number(id), u"Check"_qs, u"LAB-CONSOLE"_qs);
            return (by ? signMessageDatagram(d, *by, time ? time : now) : d).toUtf8();
        };
        const auto send = [](int client, const QByteArray& datagram) {
            sendDatagramFromFreshSocket(datagram, QHostAddress(NetnsLab::clientAddress(client)), MESSAGE_PORT);
        };
        // The same kind of message to clients 1 and 2, with ids 100 + n and 200 + n.
        const auto both = [&](int n, const std::function<QByteArray(int id)>& make) {
            for (int client : {1, 2})
                send(client, make(client * 100 + n));
        };
        // Drops are journaled once per sender per second: a second between kinds of drop.
        const auto nextSecond = [] { QTest::qWait(1100); };
        {
            // Every report, by client (last octet of its address minus 10), id and status.
            QUdpSocket socket;
            QVERIFY(socket.bind(QHostAddress::AnyIPv4, REPORT_PORT));
            send(0, message(1, key.key.get()));
            send(3, message(301, nullptr));
            send(3, message(302, key.key.get()));
            both(1, [&](int id) { return message(id, nullptr); }); // unsigned
            QVERIFY(pressOk(DISPLAYS[0]));
            nextSecond();
            for (int copy = 0; copy < 2; ++copy)
                both(2, [&](int id) { return message(id, &strangerKey()); });
            nextSecond();
            both(3, [&](int id) { return message(id, key.key.get()).replace("Check", "Chess"); });
            nextSecond();
            both(4, [&](int id) { return message(id, key.key.get(), now - 660); });   // eleven minutes old
            send(3, message(303, key.key.get(), QDateTime::currentSecsSinceEpoch())); // waits behind 302
            // Signed when this half began, over three seconds ago: too old on arrival, although it arrives
            // behind 302's pop-up too.
            send(3, message(304, key.key.get(), now));
            // Valid: shown and confirmed. The same datagram again (a client listed under two groups; it is
            // read once OK is pressed) is answered "confirmed" at once; once another message has been
            // confirmed, it is a replay.
            both(5, [&](int id) { return message(id, key.key.get()); });
            both(5, [&](int id) { return message(id, key.key.get()); });
            QVERIFY(pressOk(DISPLAYS[0]) && pressOk(DISPLAYS[1]));
            both(6, [&](int id) { return message(id, key.key.get()); });
            QVERIFY(pressOk(DISPLAYS[0]) && pressOk(DISPLAYS[1]));
            nextSecond();
            both(5, [&](int id) { return message(id, key.key.get()); });
            QTest::qWait(3000);
            QVERIFY(pressOk(DISPLAYS[2]) && pressOk(DISPLAYS[2]));

            QList<QList<int>> expected{{0, 1, 1},   {1, 101, 1}, {1, 101, 2}, {3, 302, 1},
                                       {3, 302, 2}, {3, 303, 1}, {3, 303, 2}};
            for (int client : {1, 2})
                for (int id : {5, 6})
                    expected << QList<int>{client, client * 100 + id, 1} << QList<int>{client, client * 100 + id, 2};
            expected << QList<int>{1, 105, 2} << QList<int>{2, 205, 2};
            QList<QList<int>> seen;
            for (QDeadlineTimer deadline(3000); !deadline.hasExpired(); socket.waitForReadyRead(100)) {
                while (socket.hasPendingDatagrams()) {
                    QHostAddress from;
                    QByteArray bytes(int(socket.pendingDatagramSize()), Qt::Uninitialized);
                    socket.readDatagram(bytes.data(), bytes.size(), &from);
                    const ReportDatagram r = readReportDatagram(from, bytes);
                    seen.append({r.senderAddress.section(u'.', 3).toInt() - 10, int(r.id), int(r.status)});
                }
            }
            std::sort(seen.begin(), seen.end());
            std::sort(expected.begin(), expected.end());
            QCOMPARE(seen, expected);
        }

        const NetnsLab lab = NetnsLab::attached();
        auto* console = new LabConsole(clientsIni({u"[+Office]"_qs, u"  PC-1 = "_qs + NetnsLab::clientAddress(1),
                                                   u"  PC-2 = "_qs + lab.clientHostName(2),
                                                   u"  PC-3 = "_qs + NetnsLab::clientAddress(3), u"[-Office]"_qs}),
                                       BroadcastSnapshot{0, QString()}, 100, key.key);
        QVERIFY(console->listening);
        console->tickAllAndSend(u"Signed: the server room is closed today."_qs);
        const auto statuses = [&]() -> QString {
            QString all;
            for (const QString& name : {u"PC-1"_qs, u"PC-2"_qs, u"PC-3"_qs})
                all += QString::number(console->status(name));
            return all;
        };
        QTRY_COMPARE_WITH_TIMEOUT(statuses(), u"111"_qs, ANSWER_TIMEOUT_MS);
        for (int display : DISPLAYS)
            QVERIFY(pressOk(display));
        QTRY_COMPARE_WITH_TIMEOUT(statuses(), u"222"_qs, ANSWER_TIMEOUT_MS);
    }

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
