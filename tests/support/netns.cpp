#include "netns.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace plinket::test {

namespace {

constexpr char LAB_ENVIRONMENT[] = "PLINKET_NETNS_LAB";
const QString BRIDGE = QStringLiteral("plkbr0");
const QString ETC_NETNS = QStringLiteral("/etc/netns/");
// Accumulated output of a started process, kept on the QProcess so waitForOutput can look back.
constexpr char OUTPUT_PROPERTY[] = "plinketOutput";

int g_labsInProcess = 0;

// iproute2's `ip`, also when /usr/sbin is not on the test's PATH.
QString ipProgram() {
    static const QString path = [] {
        const QString found = QStandardPaths::findExecutable(u"ip"_qs);
        return found.isEmpty() ? QStandardPaths::findExecutable(u"ip"_qs, {u"/usr/sbin"_qs, u"/sbin"_qs}) : found;
    }();
    return path;
}

QString vethName(int i) {
    return QStringLiteral("plkv%1").arg(i);
}

// A lab program dies with the test, also when the test is killed (time-out) and no destructor runs.
void dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

// Output already read plus whatever is pending now.
QByteArray collectOutput(QProcess* process) {
    QByteArray all = process->property(OUTPUT_PROPERTY).toByteArray() + process->readAll();
    process->setProperty(OUTPUT_PROPERTY, all);
    return all;
}

} // namespace

NetnsLab::~NetnsLab() {
    teardown();
}

NetnsLab::NetnsLab(NetnsLab&& other) noexcept
    : m_tag(std::move(other.m_tag)), m_clients(other.m_clients), m_owner(other.m_owner),
      m_namespaces(std::move(other.m_namespaces)), m_processes(std::move(other.m_processes)),
      m_reason(std::move(other.m_reason)), m_runtimeDirs(std::move(other.m_runtimeDirs)) {
    other.m_owner = false;
    other.m_processes.clear();
}

QString NetnsLab::consoleNamespace() const {
    return m_tag + u"-con"_qs;
}

QString NetnsLab::clientNamespace(int i) const {
    return m_tag + u"-c"_qs + QString::number(i);
}

QString NetnsLab::consoleHostName() const {
    return consoleNamespace();
}

QString NetnsLab::clientHostName(int i) const {
    return clientNamespace(i);
}

bool NetnsLab::fail(const QString& why) {
    m_reason = why;
    teardown();
    return false;
}

bool NetnsLab::ip(const QStringList& args, QString* error) const {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(ipProgram(), args);
    const bool ok = p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && error)
        *error = u"ip "_qs + args.join(u' ') + u": "_qs + QString::fromLocal8Bit(p.readAll()).trimmed();
    return ok;
}

bool NetnsLab::writeHostsFile(const QString& ns, const QByteArray& lines) const {
    const QString dir = ETC_NETNS + ns;
    QFile file(dir + u"/hosts"_qs);
    return QDir().mkpath(dir) && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(lines) == lines.size();
}

void NetnsLab::removeStaleLabs() {
    // A lab whose test was killed (time-out, crash) outlives it; its names carry the dead pid.
    static const QRegularExpression name(u"^plk(\\d+)(x\\d+)?-(con|c\\d+)$"_qs);
    const auto dead = [](const QString& ns) {
        const auto m = name.match(ns);
        return m.hasMatch() && !QFileInfo::exists(u"/proc/"_qs + m.captured(1));
    };
    QProcess list;
    list.start(ipProgram(), {u"netns"_qs, u"list"_qs});
    list.waitForFinished(10000);
    for (const QString& line : QString::fromLocal8Bit(list.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)) {
        const QString ns = line.section(u' ', 0, 0);
        if (!dead(ns))
            continue;
        QProcess pids;
        pids.start(ipProgram(), {u"netns"_qs, u"pids"_qs, ns});
        pids.waitForFinished(10000);
        for (const QString& pid : QString::fromLatin1(pids.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
            ::kill(pid.toInt(), SIGKILL);
        QProcess::execute(ipProgram(), {u"netns"_qs, u"del"_qs, ns});
    }
    for (const QString& ns : QDir(ETC_NETNS).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (dead(ns))
            QDir(ETC_NETNS + ns).removeRecursively();
}

bool NetnsLab::create(int clients) {
    teardown();
    m_reason.clear();
    if (::geteuid() != 0)
        return fail(u"needs root to build network namespaces (run the test as root)"_qs);
    if (ipProgram().isEmpty() || QStandardPaths::findExecutable(u"unshare"_qs).isEmpty())
        return fail(u"needs `ip` (iproute2) and `unshare` (util-linux)"_qs);
    if (clients < 1 || clients > MAX_CLIENTS)
        return fail(QStringLiteral("client count %1 outside 1..%2").arg(clients).arg(MAX_CLIENTS));
    removeStaleLabs();

    const int serial = g_labsInProcess++;
    m_tag = u"plk"_qs + QString::number(::getpid()) + (serial ? u"x"_qs + QString::number(serial) : QString());
    m_clients = clients;
    m_owner = true;

    QString error;
    const QString con = consoleNamespace();
    if (!ip({u"netns"_qs, u"add"_qs, con}, &error))
        return fail(u"cannot create network namespaces: "_qs + error);
    m_namespaces.append(con);
    const QString net = u"/24"_qs;
    const QString brd = broadcastAddress();
    bool ok =
        ip({u"-n"_qs, con, u"link"_qs, u"set"_qs, u"lo"_qs, u"up"_qs}, &error) &&
        ip({u"-n"_qs, con, u"link"_qs, u"add"_qs, BRIDGE, u"type"_qs, u"bridge"_qs}, &error) &&
        ip({u"-n"_qs, con, u"addr"_qs, u"add"_qs, consoleAddress() + net, u"broadcast"_qs, brd, u"dev"_qs, BRIDGE},
           &error) &&
        ip({u"-n"_qs, con, u"link"_qs, u"set"_qs, BRIDGE, u"up"_qs}, &error) &&
        // The lab has no way out; a default route only lets 255.255.255.255 leave on the bridge (without
        // one, sending there fails as unreachable).
        ip({u"-n"_qs, con, u"route"_qs, u"add"_qs, u"default"_qs, u"dev"_qs, BRIDGE}, &error);
    for (int i = 0; ok && i < clients; ++i) {
        const QString ns = clientNamespace(i);
        ok = ip({u"netns"_qs, u"add"_qs, ns}, &error);
        if (!ok)
            break;
        m_namespaces.append(ns);
        // Both ends are created straight inside the lab's namespaces, never in the machine's own.
        ok = ip({u"-n"_qs, ns, u"link"_qs, u"set"_qs, u"lo"_qs, u"up"_qs}, &error) &&
             ip({u"-n"_qs, con, u"link"_qs, u"add"_qs, vethName(i), u"type"_qs, u"veth"_qs, u"peer"_qs, u"name"_qs,
                 u"eth0"_qs, u"netns"_qs, ns},
                &error) &&
             ip({u"-n"_qs, con, u"link"_qs, u"set"_qs, vethName(i), u"master"_qs, BRIDGE, u"up"_qs}, &error) &&
             ip({u"-n"_qs, ns, u"addr"_qs, u"add"_qs, clientAddress(i) + net, u"broadcast"_qs, brd, u"dev"_qs,
                 u"eth0"_qs},
                &error) &&
             ip({u"-n"_qs, ns, u"link"_qs, u"set"_qs, u"eth0"_qs, u"up"_qs}, &error) &&
             ip({u"-n"_qs, ns, u"route"_qs, u"add"_qs, u"default"_qs, u"dev"_qs, u"eth0"_qs}, &error);
    }
    if (!ok)
        return fail(u"cannot build the lab: "_qs + error);

    // Every namespace can resolve every lab name; a client's own name gives its FQDN as canonical name.
    QByteArray hosts = "127.0.0.1\tlocalhost\n::1\tlocalhost\n";
    hosts +=
        (consoleAddress() + u'\t' + consoleHostName() + u'.' + domain() + u' ' + consoleHostName() + u'\n').toUtf8();
    for (int i = 0; i < clients; ++i)
        hosts += (clientAddress(i) + u'\t' + clientFqdn(i) + u' ' + clientHostName(i) + u'\n').toUtf8();
    for (const QString& ns : std::as_const(m_namespaces))
        if (!writeHostsFile(ns, hosts))
            return fail(u"cannot write "_qs + ETC_NETNS + ns + u"/hosts"_qs);

    // A bridge port forwards only once both ends of its veth have carrier; wait so no first datagram is lost.
    QDeadlineTimer deadline(10000);
    for (int i = 0; i < clients; ++i) {
        QByteArray out;
        while (true) {
            QProcess p;
            p.start(ipProgram(), {u"-n"_qs, con, u"-d"_qs, u"-o"_qs, u"link"_qs, u"show"_qs, u"dev"_qs, vethName(i)});
            p.waitForFinished(10000);
            out = p.readAllStandardOutput();
            if (out.contains("state UP") && out.contains("state forwarding"))
                break;
            if (deadline.hasExpired())
                return fail(u"lab port did not come up: "_qs + QString::fromLocal8Bit(out));
            QThread::msleep(20);
        }
    }
    return true;
}

void NetnsLab::teardown() {
    for (QProcess* p : std::as_const(m_processes)) {
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(2000)) {
                p->kill();
                p->waitForFinished(2000);
            }
        }
        delete p;
    }
    m_processes.clear();
    m_runtimeDirs.clear();
    if (!m_owner)
        return;
    m_owner = false;
    // Clients first: deleting a client namespace removes its veth pair, then the console's bridge goes.
    for (auto it = m_namespaces.crbegin(); it != m_namespaces.crend(); ++it) {
        QProcess pids;
        pids.start(ipProgram(), {u"netns"_qs, u"pids"_qs, *it});
        pids.waitForFinished(10000);
        for (const QString& pid : QString::fromLatin1(pids.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
            ::kill(pid.toInt(), SIGKILL);
        ip({u"netns"_qs, u"del"_qs, *it});
        QDir(ETC_NETNS + *it).removeRecursively();
    }
    m_namespaces.clear();
}

bool NetnsLab::writeClientEtcFile(int i, const QString& relativePath, const QByteArray& bytes) const {
    const QString path = ETC_NETNS + clientNamespace(i) + u'/' + relativePath;
    const QString top = relativePath.section(u'/', 0, 0);
    QFile file(path);
    // Only a private /etc may gain a folder; the machine's own is never changed.
    return (QFileInfo::exists(u"/etc/"_qs + top) || (privateEtc() && QDir(u"/etc"_qs).mkdir(top))) &&
           QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

bool NetnsLab::privateEtc() {
    return qEnvironmentVariableIsSet("PLINKET_PRIVATE_ETC");
}

bool NetnsLab::addConsoleHost(const QString& name, const QString& address) {
    QFile file(ETC_NETNS + consoleNamespace() + u"/hosts"_qs);
    const QByteArray line = (address + u'\t' + name + u'\n').toUtf8();
    return file.open(QIODevice::Append) && file.write(line) == line.size();
}

QStringList NetnsLab::command(const QString& ns, const QString& program, const QStringList& args,
                              const QString& hostName) {
    QStringList cmd{ipProgram(), u"netns"_qs, u"exec"_qs, ns};
    // `ip netns exec` has no per-namespace host name; a private UTS namespace gives the program its own.
    // unshare and sh both exec, so the started process is the program itself.
    if (!hostName.isEmpty())
        cmd << u"unshare"_qs << u"--uts"_qs << u"sh"_qs << u"-c"_qs << u"hostname \"$0\" && exec \"$@\""_qs << hostName;
    return cmd << program << args;
}

QProcess* NetnsLab::start(const QString& ns, const QString& hostName, const QString& program, const QStringList& args,
                          const QProcessEnvironment& env) {
    const QStringList cmd = command(ns, program, args, hostName);
    auto* p = new QProcess;
    dieWithParent(*p);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setProcessEnvironment(env);
    p->start(cmd.first(), cmd.mid(1));
    if (!p->waitForStarted(10000)) {
        delete p;
        return nullptr;
    }
    m_processes.append(p);
    return p;
}

QProcess* NetnsLab::startInClient(int i, const QString& program, const QStringList& args,
                                  const QProcessEnvironment& env) {
    return start(clientNamespace(i), clientHostName(i), program, args, env);
}

QProcess* NetnsLab::startInConsole(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
    return start(consoleNamespace(), consoleHostName(), program, args, env);
}

QProcessEnvironment NetnsLab::clientEnvironment(int i) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
    auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/"_qs + clientNamespace(i) + u"-XXXXXX"_qs);
    if (dir->isValid()) {
        QFile::setPermissions(dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(u"XDG_RUNTIME_DIR"_qs, dir->path());
        m_runtimeDirs.push_back(std::move(dir));
    }
    return env;
}

QByteArray NetnsLab::clientsFile(bool byName) const {
    QByteArray bytes = "\xEF\xBB\xBF;Plinket Clients v2\r\n\r\n[+Lab]\r\n";
    for (int i = 0; i < m_clients; ++i)
        bytes +=
            (u"  "_qs + clientHostName(i) + u" = "_qs + (byName ? clientHostName(i) : clientAddress(i)) + u"\r\n"_qs)
                .toUtf8();
    return bytes + "[-Lab]\r\n";
}

int NetnsLab::run(const QString& ns, const QString& program, const QStringList& args, QByteArray* output,
                  int timeoutMs) const {
    const QStringList cmd = command(ns, program, args);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(cmd.first(), cmd.mid(1));
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return -1;
    }
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool NetnsLab::waitForOutput(QProcess* process, const QByteArray& text, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!collectOutput(process).contains(text)) {
        if (deadline.hasExpired() || process->state() == QProcess::NotRunning)
            return collectOutput(process).contains(text);
        process->waitForReadyRead(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 100)));
    }
    return true;
}

bool NetnsLab::waitForUdpPort(const QString& ns, quint16 port, int timeoutMs) const {
    // /proc/net/udp shows the sockets of the reader's namespace; local addresses end in ":PORT" (hex).
    const QString suffix = QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    QDeadlineTimer deadline(timeoutMs);
    do {
        QByteArray table;
        run(ns, u"cat"_qs, {u"/proc/net/udp"_qs}, &table, 5000);
        for (const QString& line : QString::fromLatin1(table).split(u'\n', Qt::SkipEmptyParts)) {
            const QStringList fields = line.simplified().split(u' ');
            if (fields.size() > 1 && fields[1].endsWith(suffix))
                return true;
        }
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return false;
}

bool NetnsLab::runSelfInConsole(const QString& testFunction, QString* output, int timeoutMs) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(LAB_ENVIRONMENT), m_tag + u',' + QString::number(m_clients));
    const QStringList cmd = command(consoleNamespace(), QCoreApplication::applicationFilePath(), {testFunction});
    QProcess p;
    dieWithParent(p);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setProcessEnvironment(env);
    p.start(cmd.first(), cmd.mid(1));
    const bool finished = p.waitForFinished(timeoutMs);
    if (!finished) {
        p.kill();
        p.waitForFinished(2000);
    }
    const QString text = QString::fromLocal8Bit(p.readAll());
    if (output)
        *output = finished ? text : u"timed out in the console namespace:\n"_qs + text;
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool NetnsLab::runCurrentTestInConsole(QString* output, int timeoutMs) const {
    QString function = QString::fromLatin1(QTest::currentTestFunction());
    if (const char* tag = QTest::currentDataTag())
        function += u':' + QString::fromLocal8Bit(tag);
    return runSelfInConsole(function, output, timeoutMs);
}

bool NetnsLab::insideConsole() {
    return qEnvironmentVariableIsSet(LAB_ENVIRONMENT);
}

NetnsLab NetnsLab::attached() {
    NetnsLab lab;
    const QString value = qEnvironmentVariable(LAB_ENVIRONMENT);
    lab.m_tag = value.section(u',', 0, 0);
    lab.m_clients = value.section(u',', 1, 1).toInt();
    return lab;
}

} // namespace plinket::test
