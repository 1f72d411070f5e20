#include "client_system.h"
#include "message_socket.h"
#include "network_init.h"
#include "policy_watcher.h"
#include "session_end.h"
#include "single_instance.h"

#include <QDir>
#include <QOperatingSystemVersion>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <csignal>
#include <cstdio>

using namespace plinket;

namespace {

bool onWindows() {
    return QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows;
}

// Points the user's runtime directory somewhere else for the life of the object.
class RuntimeDir {
public:
    explicit RuntimeDir(const QString& path) : m_old(qgetenv("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", path.toLocal8Bit());
    }
    ~RuntimeDir() { qputenv("XDG_RUNTIME_DIR", m_old); }

private:
    QByteArray m_old;
};

// Writes a policy file as an editor does: a new file renamed over the old one (`inPlace`: rewritten).
bool writePolicyFile(const QString& path, const QByteArray& bytes, bool inPlace = false) {
    QFile file(inPlace ? path : path + u".new"_qs);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return inPlace || std::rename(qPrintable(file.fileName()), qPrintable(path)) == 0;
}

QByteArray trustedKeyLine(char seed) {
    return publicKeyLine(SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, seed))->publicKey()) + '\n';
}

} // namespace

class TestClientSystem final : public QObject {
    Q_OBJECT

private slots:
    void hostNamesUpperCased() {
        QVERIFY(initNetworking());
        const auto names = localHostNames();
        QVERIFY(names);
        QCOMPARE(names->hostName, QSysInfo::machineHostName().toUpper());
        QVERIFY(!names->fqdn.isEmpty());
        QCOMPARE(names->fqdn, names->fqdn.toUpper());
        // The full name is this host's: it starts with the host name (short name or already qualified),
        // and is a name, never padding or an address.
        QVERIFY2(names->fqdn.startsWith(names->hostName.section(u'.', 0, 0)), qPrintable(names->fqdn));
        QVERIFY2(!names->fqdn.contains(u' ') && QHostAddress(names->fqdn).isNull(), qPrintable(names->fqdn));
    }

    void platformAnswers() {
        QVERIFY(initNetworking());
        QVERIFY(!systemWantsFadeEffects());
    }

    void displayAvailable_data() {
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<bool>("available");
        QTest::newRow("nothing") << QByteArray() << QByteArray() << QByteArray() << false;
        QTest::newRow("X11") << QByteArray() << QByteArray(":0") << QByteArray() << true;
        QTest::newRow("Wayland") << QByteArray() << QByteArray() << QByteArray("wayland-0") << true;
        QTest::newRow("platform chosen") << QByteArray("offscreen") << QByteArray() << QByteArray() << true;
    }
    void displayAvailable() {
        if (onWindows())
            QSKIP("a Windows desktop session always has its screen; the variables are the Linux ones");
        QFETCH(QByteArray, platform);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, wayland);
        const QByteArray names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
        const QByteArray values[] = {platform, display, wayland};
        QByteArray saved[3];
        bool wasSet[3];
        for (int i = 0; i < 3; ++i) {
            wasSet[i] = qEnvironmentVariableIsSet(names[i].constData());
            saved[i] = qgetenv(names[i].constData());
            if (values[i].isEmpty())
                qunsetenv(names[i].constData());
            else
                qputenv(names[i].constData(), values[i]);
        }
        const bool available = plinket::displayAvailable();
        for (int i = 0; i < 3; ++i) {
            if (wasSet[i])
                qputenv(names[i].constData(), saved[i]);
            else
                qunsetenv(names[i].constData());
        }
        QTEST(available, "available");
    }

    void singleInstance() {
        QTemporaryDir dir;
        RuntimeDir runtime(dir.path());
        {
            SingleInstance first;
            QVERIFY(first.acquire());
            SingleInstance second; // another open file: the lock conflicts even within one process
            QVERIFY(!second.acquire());
        }
        // Released with its holder, as the kernel releases it when a client dies.
        SingleInstance third;
        QVERIFY(third.acquire());
    }

    void singleInstanceWithoutRuntimeDirStarts() {
        RuntimeDir runtime(u"/nonexistent/plinket-test"_qs);
        SingleInstance instance;
        QVERIFY(instance.acquire());
    }

    void sessionEndSignals_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("reloads"); // asks for the policy to be read again, and the session goes on
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGHUP") << 1 << true; // SIGHUP, which Windows does not define
    }
    void sessionEndSignals() {
        if (onWindows())
            QSKIP("no stop signal reaches a windowed Windows program: a session's end comes as Qt's commit request");
        QFETCH(int, signalNumber);
        QFETCH(bool, reloads);
        SessionEndWatcher watcher;
        QSignalSpy ending(&watcher, &SessionEndWatcher::sessionEnding);
        QSignalSpy reload(&watcher, &SessionEndWatcher::reloadRequested);
        QSignalSpy& spy = reloads ? reload : ending;
        QCOMPARE(::raise(signalNumber), 0);
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.count(), 1);
        // Several signals before the loop runs make one notice each time the loop wakes, never a hang.
        ::raise(signalNumber);
        ::raise(signalNumber);
        QVERIFY(spy.wait(5000));
        QCOMPARE((reloads ? ending : reload).count(), 0);
    }

    // The policy read again from the real file system when its files change. Each row starts from
    // client.conf and key files k0.pub, k1.pub... (one key each, by seed), then changes them: a
    // client.conf given is renamed over the old one, key files are rewritten in place, made or deleted.
    void policyReadAgain_data() {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QByteArray>("newConf"); // empty: unchanged; "-": deleted; "666 ...": that mode
        QTest::addColumn<QByteArray>("newKeys"); // "!": a damaged key file
        QTest::addColumn<QString>("changed");    // event 111's text; empty: no event
        QTest::addColumn<int>("refused");        // events 110
        QTest::addColumn<bool>("require");
        QTest::addColumn<int>("keyCount");
        const QByteArray no = "require-signature = no\n", yes = "require-signature = yes\n";
        QTest::newRow("switched on") << no << QByteArray("a") << yes << QByteArray("a")
                                     << u"require-signature no -> yes"_qs << 0 << true << 1;
        QTest::newRow("times") << QByteArray("max-message-age = 600\nhold-time = 600\n") << QByteArray("")
                               << QByteArray("max-message-age = 30\nhold-time = 60\n") << QByteArray("")
                               << u"max-message-age 600 -> 30; hold-time 600 -> 60"_qs << 0 << false << 0;
        QTest::newRow("same text again") << yes << QByteArray("a") << yes << QByteArray("a") << QString() << 0 << true
                                         << 1;
        // A file that cannot be used keeps what applied, not the strict fallback a start would take.
        QTest::newRow("misspelt: old kept") << no << QByteArray() << QByteArray("require-signatur = yes\n")
                                            << QByteArray() << QString() << 1 << false << 0;
        QTest::newRow("bad value: old kept") << no << QByteArray() << QByteArray("require-signature = maybe\n")
                                             << QByteArray() << QString() << 1 << false << 0;
        QTest::newRow("others may write it: old kept")
            << no << QByteArray() << QByteArray("666 require-signature = yes\n") << QByteArray() << QString() << 1
            << false << 0;
        QTest::newRow("deleted: the defaults, said") << yes << QByteArray("") << QByteArray("-") << QByteArray("")
                                                     << u"require-signature yes -> no"_qs << 0 << false << 0;
        QTest::newRow("key added") << no << QByteArray("a") << QByteArray("") << QByteArray("ab")
                                   << u"trusted keys: 1 -> 2"_qs << 0 << false << 2;
        QTest::newRow("key removed") << no << QByteArray("ab") << QByteArray("") << QByteArray("a")
                                     << u"trusted keys: 2 -> 1"_qs << 0 << false << 1;
        QTest::newRow("key replaced") << no << QByteArray("a") << QByteArray("") << QByteArray("b")
                                      << u"trusted keys: 1 -> 1 (1 added, 1 removed)"_qs << 0 << false << 1;
        QTest::newRow("damaged key: old keys, new settings")
            << yes << QByteArray("a") << no << QByteArray("b!") << u"require-signature yes -> no"_qs << 1 << false << 1;
    }
    void policyReadAgain() {
        QFETCH(QByteArray, conf);
        QFETCH(QByteArray, keys);
        QFETCH(QByteArray, newConf);
        QFETCH(QByteArray, newKeys);
        QTemporaryDir dir;
        const QString confPath = dir.filePath(u"client.conf"_qs);
        QVERIFY(QDir(dir.path()).mkdir(u"trusted-keys"_qs));
        const auto keyPath = [&dir](qsizetype i) { return dir.filePath(u"trusted-keys/k%1.pub"_qs.arg(i)); };
        QVERIFY(writePolicyFile(confPath, conf));
        if (onWindows() || QFileInfo(confPath).ownerId() != 0)
            QSKIP("policy files must belong to root");
        for (qsizetype i = 0; i < keys.size(); ++i)
            QVERIFY(writePolicyFile(keyPath(i), trustedKeyLine(keys[i])));

        PolicyWatcher watcher(dir.path());
        QVERIFY(watcher.startupProblems().isEmpty());
        QSignalSpy changed(&watcher, &PolicyWatcher::changed);
        QSignalSpy refused(&watcher, &PolicyWatcher::refused);
        QSignalSpy read(&watcher, &PolicyWatcher::readAgain);
        if (newConf == "-") {
            QVERIFY(QFile::remove(confPath));
        } else if (newConf.startsWith("666 ")) {
            QVERIFY(writePolicyFile(confPath, newConf.mid(4)));
            QVERIFY(QFile::setPermissions(confPath, QFileDevice::Permissions(0x6666)));
        } else if (!newConf.isEmpty()) {
            QVERIFY(writePolicyFile(confPath, newConf));
        }
        for (qsizetype i = 0; i < std::max(keys.size(), newKeys.size()); ++i) {
            if (i >= newKeys.size())
                QVERIFY(QFile::remove(keyPath(i)));
            else if (i >= keys.size() || newKeys[i] != keys[i])
                QVERIFY(writePolicyFile(
                    keyPath(i), newKeys[i] == '!' ? QByteArray("ed25519 ???\n") : trustedKeyLine(newKeys[i]), true));
        }
        QTRY_VERIFY_WITH_TIMEOUT(read.count() > 0, 10000);
        QTEST(changed.isEmpty() ? QString() : changed.last().at(1).toString(), "changed");
        QVERIFY(changed.count() <= 1);
        QTEST(int(refused.count()), "refused");
        QTEST(watcher.policy().requireSignature, "require");
        QTEST(int(watcher.policy().trustedKeys.size()), "keyCount");

        // The watch holds after the change (a file replaced by rename is watched under its name again).
        QVERIFY(writePolicyFile(confPath, "hold-time = 77\n"));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.policy().holdSeconds, 77, 10000);
    }

    void messageSocketIsExclusive() {
        // A port another program holds cannot be had, even when that program allows sharing.
        QUdpSocket other;
        QVERIFY(
            other.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
        QVERIFY(!MessageSocket::open(other.localPort()));

        // And once we hold a port, nobody else gets it.
        const std::unique_ptr<MessageSocket> mine = MessageSocket::open(0);
        QVERIFY(mine);
        QUdpSocket intruder;
        QVERIFY(!intruder.bind(QHostAddress::AnyIPv4, mine->localPort(),
                               QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
        QVERIFY(mine->receiveBufferSize() > 256 * 1024);
    }
};

QTEST_GUILESS_MAIN(TestClientSystem)
#include "tst_client_system.moc"
