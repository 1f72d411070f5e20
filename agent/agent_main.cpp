// plinket_agent: the host agent, one per computer, run by the system as a service. It owns UDP 47127
// and everything that concerns the network (datagram checks, the signature policy, the repeat rule,
// the reports to the console) exactly as a standalone plinket_client does, and hands each message to
// the pop-up process (plinket_client in session mode) of every graphical user session over the local
// channel (agent_channel.h). "1" goes to the console when the first session has the message on
// screen, "2" when the first person confirms it; every person confirms their own pop-up.

#include "agent_service.h"
#include "agent_sessions.h"
#include "client_policy.h"
#include "client_state.h"
#include "client_system.h"
#include "command_line.h"
#include "eventlog.h"
#include "message_socket.h"
#include "network_init.h"
#include "policy_watcher.h"
#include "receiver.h"
#include "session_peer.h"
#include "signal_watcher.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace plinket;

namespace {

// While another program holds the message port (a standalone client of an older version that is still
// running in a user session until its user logs out), the agent tries again at this pace.
constexpr int PORT_RETRY_MS = 5000;

int runAgent(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Plinket Agent"));
    if (!initNetworking()) {
        std::fputs("plinket_agent: the network stack cannot be started\n", stderr);
        return 1;
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    const std::optional<HostNames> names = localHostNames();
    if (!names) {
        std::fputs("plinket_agent: this computer's names cannot be read\n", stderr);
        return 1;
    }
    ClientState state;
    state.hostName = names->hostName;
    state.fqdn = names->fqdn;
    registerEventSource(EventSource::Client);

    // The workstation's report key belongs to the user the agent runs as (the package makes it so).
    // The policy is read again when its files change, and on SIGHUP (systemctl reload plinket-agent).
    PolicyWatcher policy(clientPolicyDirectory());
    journalPolicyChanges(policy, "plinket_agent");
    const WorkstationKey workstationKey = loadWorkstationKey(clientPolicyDirectory(), true);
    QList<PolicyProblem> problems = policy.startupProblems();
    if (workstationKey.problem)
        problems.append(*workstationKey.problem);
    for (const PolicyProblem& problem : std::as_const(problems)) {
        std::fprintf(stderr, "plinket_agent: %s: %s\n", qPrintable(problem.path), qPrintable(problem.reason));
        reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_FILE_REFUSED, problem.path,
                    problem.reason);
    }

    AgentSessions sessions(checkPeer, policy.policy().holdSeconds * 1000);
    const QList<IncomingMessage> restored = sessions.restoreFrom(agentStateFile());
    std::unique_ptr<Receiver> receiver;
    if (!sessions.listen(agentChannelName())) {
        std::fprintf(stderr, "plinket_agent: cannot listen on %s\n", qPrintable(agentChannelName()));
        return 1;
    }
    sessions.setSessionCheck(sessionStillOpen);
    SessionMonitor monitor;
    QObject::connect(&monitor, &SessionMonitor::changed, &sessions,
                     [&sessions] { sessions.recheckSessions(sessionStillOpen); });

    SignalWatcher stop({StopSignal::Terminate, StopSignal::Interrupt, StopSignal::Reload});
    // The sessions keep their pop-ups; they re-announce them to the next agent (an upgrade's restart).
    QObject::connect(&stop, &SignalWatcher::arrived, &app, &QCoreApplication::quit);
    QObject::connect(&stop, &SignalWatcher::reloadRequested, &policy, &PolicyWatcher::reread);

    reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_STARTED, QString::fromUtf16(CLIENT_VERSION));

    // What `systemctl status plinket-agent` shows: whether the port is had, and how many sessions are served.
    const auto status = [&]() -> QString {
        return (receiver ? u"receiving on UDP port 47127"_qs : u"waiting for UDP port 47127"_qs) + u"; pop-ups in "_qs +
               QString::number(sessions.sessionCount()) + u" sessions"_qs;
    };
    QObject::connect(&sessions, &AgentSessions::sessionsChanged, &app, [&] { serviceStatus(status()); });

    QTimer portRetry;
    portRetry.setSingleShot(true);
    const auto startReceiving = [&] {
        std::unique_ptr<MessageSocket> socket = MessageSocket::open();
        if (!socket) {
            serviceReady(u"waiting for UDP port 47127, which another program holds (a client of an older "
                         "version in a user session holds it until that user logs out)"_qs);
            portRetry.start(PORT_RETRY_MS);
            return;
        }
        receiver = std::make_unique<Receiver>(state, sessions, std::move(socket));
        receiver->setEventWriter([&sessions](int id, const QString& s1, const QString& s2, const QString& s3) {
            reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, id, s1, s2, s3, sessions.viewerFields());
        });
        receiver->setPolicy(policy.policy());
        receiver->setWorkstationKey(workstationKey.key);
        receiver->setProbeKind(PROBE_KIND_AGENT.toString(), [&sessions] { return sessions.sessionCount(); });
        for (const IncomingMessage& message : restored)
            receiver->adopt(message);
        receiver->start();
        serviceReady(status());
    };
    QObject::connect(&portRetry, &QTimer::timeout, &app, startReceiving);
    QObject::connect(&policy, &PolicyWatcher::changed, &app, [&](const ClientPolicy& changed) {
        sessions.setHoldMs(changed.holdSeconds * 1000);
        if (receiver)
            receiver->setPolicy(changed);
    });
    startReceiving();
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    const ProgramCommandLine commandLine{
        u"plinket_agent"_qs,
        u"Plinket's host agent: receives the console's messages on UDP port 47127 for the whole computer "
        "and shows each one in every user's desktop session. Run by the system as the service plinket-agent."_qs,
        {}};
    if (const std::optional<int> exitCode = handleCommandLine(commandLine, argc, argv))
        return *exitCode;
    return runAsService(argc, argv, runAgent);
}
