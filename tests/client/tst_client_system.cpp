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
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() &&
           (inPlace || std::rename(qPrintable(file.fileName()), qPrintable(path)) == 0);
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

    // The policy read again from the real file system after an edit. A row starts from client.conf and a
    // key file per seed letter (k0.pub, ...); renames a new client.conf over the old ("666": then makes it
    // writable by all), rewrites key files in place ("!": damaged); and expects event 111's text, the number
    // of events 110, require-signature and the number of keys trusted.
    void policyReadAgain_data() {
        QTest::addColumn<QByteArrayList>("edit"); // client.conf, keys, new client.conf, new keys
        QTest::addColumn<QString>("expected");
        const QByteArray no = "require-signature = no\n", yes = "require-signature = yes\n";
        QTest::newRow("switched on") << QByteArrayList{no, "a", yes, "a"} << u"require-signature no -> yes|0|1|1"_qs;
        QTest::newRow("same text again") << QByteArrayList{yes, "a", yes, "a"} << u"|0|1|1"_qs;
        // What cannot be used keeps what applied before, not the strict fallback of a start.
        QTest::newRow("misspelt") << QByteArrayList{no, "", "require-signatur = yes\n", ""} << u"|1|0|0"_qs;
        QTest::newRow("writable by all") << QByteArrayList{no, "", "666" + yes, ""} << u"|1|0|0"_qs;
        QTest::newRow("key added") << QByteArrayList{no, "a", "", "ab"} << u"trusted keys: 1 -> 2|0|0|2"_qs;
        QTest::newRow("key removed") << QByteArrayList{no, "ab", "", "a"} << u"trusted keys: 2 -> 1|0|0|1"_qs;
        QTest::newRow("damaged key: old keys")
            << QByteArrayList{yes, "a", no, "b!"} << u"require-signature yes -> no|1|0|1"_qs;
    }
    void policyReadAgain() {
        QFETCH(QByteArrayList, edit);
        QTemporaryDir dir;
        const QString conf = dir.filePath(u"client.conf"_qs);
        const auto key = [&dir](qsizetype i) { return dir.filePath(u"trusted-keys/k%1.pub"_qs.arg(i)); };
        if (onWindows())
            QSKIP("the rows edit owners and mode bits and replace files by rename as Linux editors do; Windows "
                  "judges policy files by their access list");
        QVERIFY(QDir(dir.path()).mkdir(u"trusted-keys"_qs) && writePolicyFile(conf, edit[0]));
        if (QFileInfo(conf).ownerId() != 0)
            QSKIP("policy files must belong to root");
        for (qsizetype i = 0; i < edit[1].size(); ++i)
            QVERIFY(writePolicyFile(key(i), trustedKeyLine(edit[1][i])));
        PolicyWatcher watcher(dir.path());
        QSignalSpy changed(&watcher, &PolicyWatcher::changed);
        QSignalSpy refused(&watcher, &PolicyWatcher::refused);
        QSignalSpy read(&watcher, &PolicyWatcher::readAgain);
        const bool open = edit[2].startsWith("666");
        QVERIFY(edit[2].isEmpty() || writePolicyFile(conf, edit[2].mid(open ? 3 : 0)));
        QVERIFY(!open || QFile::setPermissions(conf, QFileDevice::Permissions(0x6666)));
        for (qsizetype i = 0; i < edit[3].size(); ++i) // an unchanged key file rewritten changes nothing
            QVERIFY(writePolicyFile(key(i), edit[3][i] == '!' ? "ed25519 ?\n" : trustedKeyLine(edit[3][i]), true));
        QVERIFY(edit[1].size() <= edit[3].size() || QFile::remove(key(edit[3].size())));
        QTRY_VERIFY_WITH_TIMEOUT(read.count() > 0, 10000);
        QVERIFY(changed.count() <= 1);
        const QStringList seen{changed.isEmpty() ? QString() : changed[0][1].toString(),
                               QString::number(refused.count()), QString::number(watcher.policy().requireSignature),
                               QString::number(watcher.policy().trustedKeys.size())};
        QTEST(seen.join(u'|'), "expected");
        // The watch holds after the change (a file replaced by rename is watched under its name again).
        QVERIFY(writePolicyFile(conf, "hold-time = 77\n"));
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
