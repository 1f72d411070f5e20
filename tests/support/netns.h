#pragma once

// A throw-away network lab for end-to-end tests: one "console" namespace holding a bridge with
// 10.250.0.1/24, and K "client" namespaces, each joined to the bridge by a veth pair and holding
// 10.250.0.(10+i)/24. Nothing is created in, or sent through, the machine's own network
// namespace; broadcasts to 10.250.0.255 and 255.255.255.255 stay on the lab's bridge (each
// namespace's default route leads onto the bridge, which has no way out).
//
// Names carry the test's pid ("plk<pid>-con", "plk<pid>-c<i>"), so concurrent runs never meet,
// and leftovers of a killed run are removed by the next one. The destructor tears everything down
// (processes first, then the namespaces, veths and bridge with them, then /etc/netns/<ns>).
//
// Running the test's own code in the console namespace: the test binary runs itself again through
// `ip netns exec <console> <self> <testFunction>` (runCurrentTestInConsole). The child sees
// insideConsole() == true and rebuilds the lab's names with attached(); it is a fresh process, so
// its sockets live in the console namespace and its /etc/hosts is the console's hosts file. This
// is used rather than setns(2) because the hosts file needs a mount namespace of its own, which a
// process that already runs threads cannot enter. The child runs initTestCase and cleanupTestCase
// too: build labs inside test functions, or return early there when insideConsole().
//
// Under with_private_journal.sh the lab's /run/netns lives in the test's private /run, and the
// programs in the lab write to the test's journal socket (a path socket reaches across network
// namespaces), so a JournalCapture in the test sees the events of every lab program.
//
// Typical use:
//     void TestX::reports() {
//         if (NetnsLab::insideConsole()) {           // second half, in the console namespace
//             const NetnsLab lab = NetnsLab::attached();
//             ... bind 47128, send to lab.clientAddress(0), QVERIFY ...
//             return;
//         }
//         NetnsLab lab;
//         if (!lab.create(2))
//             QSKIP(qPrintable(lab.reason()));
//         QVERIFY(lab.startInClient(0, clientPath, {}, lab.clientEnvironment(0)));
//         QVERIFY(lab.waitForUdpPort(lab.clientNamespace(0), MESSAGE_PORT));
//         QString output;
//         QVERIFY2(lab.runCurrentTestInConsole(&output), qPrintable(output));
//     }

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QProcess;
class QTemporaryDir;

namespace plinket::test {

class NetnsLab {
public:
    static constexpr int MAX_CLIENTS = 200;

    NetnsLab() = default;
    ~NetnsLab();
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;
    NetnsLab(NetnsLab&& other) noexcept;
    NetnsLab& operator=(NetnsLab&&) = delete;

    // Builds the lab. False when the lab cannot be had here (not root, no `ip`, `ip netns add`
    // refused): reason() then says why, for QSKIP. Partial work is undone.
    bool create(int clients);
    QString reason() const { return m_reason; }
    // Stops the lab's processes and removes its namespaces; the destructor calls it. Idempotent.
    void teardown();

    int clientCount() const { return m_clients; }
    QString consoleNamespace() const;
    QString clientNamespace(int i) const;
    static QString consoleAddress() { return QStringLiteral("10.250.0.1"); }
    static QString clientAddress(int i) { return QStringLiteral("10.250.0.%1").arg(10 + i); }
    static QString broadcastAddress() { return QStringLiteral("10.250.0.255"); }
    static QString domain() { return QStringLiteral("plinket.lab"); }
    // Host names as set in the namespaces (lower case; programs upper-case them): "plk<pid>-c<i>".
    QString consoleHostName() const;
    QString clientHostName(int i) const;
    QString clientFqdn(int i) const { return clientHostName(i) + u'.' + domain(); }

    // Adds a line to the console namespace's hosts file; the lab already lists every client by host
    // name and FQDN. Takes effect for programs started afterwards.
    bool addConsoleHost(const QString& name, const QString& address);

    // Puts a file under /etc as programs started afterwards in client i's namespace see it, e.g.
    // "plinket/client.conf" (`ip netns exec` lays /etc/netns/<ns>/<entry> over /etc/<entry>). The
    // entry must exist in /etc, so outside the lab's namespaces this needs privateEtc().
    bool writeClientEtcFile(int i, const QString& relativePath, const QByteArray& bytes) const;
    // True under with_private_journal.sh when /etc is a private copy-on-write layer: the test may create
    // folders in /etc (such as /etc/plinket) that nobody else sees and that vanish with the test.
    static bool privateEtc();

    // The command line that runs `program` in namespace `ns`, under host name `hostName` when given.
    static QStringList command(const QString& ns, const QString& program, const QStringList& args,
                               const QString& hostName = {});
    // Starts a program in client i's namespace under that client's host name, or in the console
    // namespace under the console's. The lab owns the process and ends it at teardown; output is
    // merged and kept for output(). Returns nullptr when it could not be started.
    QProcess* startInClient(int i, const QString& program, const QStringList& args,
                            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
    QProcess* startInConsole(const QString& program, const QStringList& args,
                             const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
    // The environment for a real program in client i: offscreen Qt platform, and a runtime folder of
    // its own (each client is its own logon session, so the single-instance lock of one does not stop
    // another). The folder lives as long as the lab.
    QProcessEnvironment clientEnvironment(int i);
    // clients.ini listing every lab client in one group "Lab", by address or by host name.
    QByteArray clientsFile(bool byName = false) const;
    // Runs a program in a namespace to its end; returns its exit code, -1 when it did not finish in time.
    int run(const QString& ns, const QString& program, const QStringList& args, QByteArray* output = nullptr,
            int timeoutMs = 30000) const;

    // Waits until `process` printed `text` (the line it prints once its socket is bound, say).
    static bool waitForOutput(QProcess* process, const QByteArray& text, int timeoutMs = 10000);
    // Waits until something in namespace `ns` has bound UDP `port`.
    bool waitForUdpPort(const QString& ns, quint16 port, int timeoutMs = 10000) const;

    // Runs this test binary again inside the console namespace with only `testFunction` (QtTest's
    // "function" or "function:tag" argument). True when that run passed (or skipped); its output
    // is returned for the failure message.
    bool runSelfInConsole(const QString& testFunction, QString* output, int timeoutMs = 60000) const;
    // The same for the test function (and data row) that is running now.
    bool runCurrentTestInConsole(QString* output, int timeoutMs = 60000) const;
    // In the re-executed test process: true, and attached() describes the lab it runs in
    // (names only; it owns nothing and tears nothing down).
    static bool insideConsole();
    static NetnsLab attached();

private:
    bool fail(const QString& why);
    bool ip(const QStringList& args, QString* error = nullptr) const;
    bool writeHostsFile(const QString& ns, const QByteArray& lines) const;
    QProcess* start(const QString& ns, const QString& hostName, const QString& program, const QStringList& args,
                    const QProcessEnvironment& env);
    static void removeStaleLabs();

    QString m_tag; // "plk<pid>" (with a counter when one process builds several labs)
    int m_clients = 0;
    bool m_owner = false;
    QStringList m_namespaces; // created so far, console first
    QList<QProcess*> m_processes;
    QString m_reason;
    std::vector<std::unique_ptr<QTemporaryDir>> m_runtimeDirs;
};

} // namespace plinket::test
