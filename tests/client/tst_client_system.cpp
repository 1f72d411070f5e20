#include "client_system.h"
#include "message_socket.h"
#include "network_init.h"
#include "session_end.h"
#include "single_instance.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <unistd.h>

using namespace plinket;

namespace {

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

} // namespace

class TestClientSystem final : public QObject {
    Q_OBJECT

private slots:
    void hostNamesUpperCased() {
        const auto names = localHostNames();
        QVERIFY(names);
        char buffer[1024] = {};
        QCOMPARE(::gethostname(buffer, sizeof buffer - 1), 0);
        QCOMPARE(names->hostName, QString::fromLocal8Bit(buffer).toUpper());
        QVERIFY(!names->fqdn.isEmpty());
        QCOMPARE(names->fqdn, names->fqdn.toUpper());
        // The full name is this host's: it starts with the host name (short name or already qualified).
        QVERIFY2(names->fqdn.startsWith(names->hostName.section(u'.', 0, 0)), qPrintable(names->fqdn));
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
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void sessionEndSignals() {
        QFETCH(int, signalNumber);
        SessionEndWatcher watcher;
        QSignalSpy spy(&watcher, &SessionEndWatcher::sessionEnding);
        QCOMPARE(::raise(signalNumber), 0);
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.count(), 1);
        // Several signals before the loop runs make one notice each time the loop wakes, never a hang.
        ::raise(signalNumber);
        ::raise(signalNumber);
        QVERIFY(spy.wait(5000));
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
