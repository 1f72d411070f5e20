// plinket_client: waits on UDP 47127 for messages from the console, shows each one in a pop-up until the
// user presses OK, and answers the sender twice (shown, confirmed). No window of its own; the command line
// has only --help, --version and --workstation-key, and the only settings are the workstation's signature
// policy and report key in /etc/plinket (client_policy.h), read again when they change or on SIGHUP
// (policy_watcher.h). Every way out of a normal start ends with exit code 0.
//
// Where the host agent runs (plinket_agent, which then owns the port for the whole computer), the
// client is the pop-up of its user session instead: it takes the messages the agent hands it
// (session_link.h) and leaves the network, the journal's 101 and 102 and the reports to the agent.

#include "client_icon.h"
#include "client_policy.h"
#include "client_state.h"
#include "client_system.h"
#include "command_line.h"
#include "eventlog.h"
#include "message_box.h"
#include "network_init.h"
#include "policy_watcher.h"
#include "popup_native.h"
#include "popup_visibility.h"
#include "popup_window.h"
#include "receiver.h"
#include "session_end.h"
#include "session_link.h"
#include "single_instance.h"
#include "widget_popup.h"

#include <QApplication>
#include <QNetworkProxy>

#include <cstdio>
#include <memory>

using namespace plinket;

namespace {

void showStartupError(const QString& text) {
    showMessageBox(BoxIcon::None, QStringLiteral("Error!"), text);
}

// The end of the session ends the client (event 103); then the start-up events.
void watchSessionEnd(QApplication& app, SessionEndWatcher& sessionEnd) {
    QObject::connect(&sessionEnd, &SessionEndWatcher::sessionEnding, [] { endSession(); });
#if QT_CONFIG(sessionmanager)
    QObject::connect(&app, &QGuiApplication::commitDataRequest, [](QSessionManager&) { endSession(); });
#else
    (void)app;
#endif
    reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_STARTED, QString::fromUtf16(CLIENT_VERSION));
    if (!popupDesktop().keepsOnTop)
        reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_NOT_ON_TOP);
    // Without X11 nothing tells whether a person can see the pop-up: it counts as seen once shown.
    if (!VisibilityWatch::canVerify())
        reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_WINDOW_MANAGER_LIMIT,
                    QStringLiteral("be checked for being seen (it counts as seen once shown)"), windowManagerName());
    treatUnplannedExitAsSessionEnd();
}

int runSessionMode(QApplication& app, SessionLink& agent) {
    SessionEndWatcher sessionEnd;
    watchSessionEnd(app, sessionEnd);
    QObject::connect(&agent, &SessionLink::refusedLater, &app, [](const QString& reason) {
        std::fprintf(stderr, "plinket_client: the host agent no longer serves this session: %s\n", qPrintable(reason));
        QCoreApplication::exit(0);
    });
    QApplication::exec();
    return 0;
}

void printProblem(const PolicyProblem& problem) {
    std::fprintf(stderr, "plinket_client: %s: %s\n", qPrintable(problem.path), qPrintable(problem.reason));
}

// --workstation-key: makes the workstation's report key if it is missing (where this user may) and prints its
// public half, the line an administrator puts into the console's known-workstations file; then ends.
std::optional<int> printWorkstationKey(const QString&) {
    const WorkstationKey key = loadWorkstationKey(clientPolicyDirectory(), true);
    if (key.problem)
        printProblem(*key.problem);
    if (!key.key) {
        if (!key.problem)
            std::fprintf(stderr, "plinket_client: no %s/workstation.key, and it cannot be made here\n",
                         qPrintable(clientPolicyDirectory()));
        return 1;
    }
    std::printf("%s\n", publicKeyLine(key.key->publicKey()).constData());
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const ProgramCommandLine commandLine{
        u"plinket_client"_qs,
        u"Plinket's receiver: waits on UDP port 47127 for messages from the console and shows each one until "
        "the user presses OK. Started by the desktop session at login."_qs,
        {{QCommandLineOption(u"workstation-key"_qs,
                             u"Make this workstation's report key /etc/plinket/workstation.key if it is missing "
                             "(needs the right to write there), print its public key line for the console's "
                             "known-workstations file, and exit."_qs),
          printWorkstationKey}}};
    if (const std::optional<int> exitCode = handleCommandLine(commandLine, argc, argv))
        return *exitCode;

    // A second client in this session ends at once and silently.
    SingleInstance instance;
    if (!instance.acquire())
        return 0;
    if (!displayAvailable()) {
        std::fputs("plinket_client: no display to show messages on\n", stderr);
        return 0;
    }
    choosePlatform();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Plinket Client"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(clientIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("plinket-client"));

    WidgetPopup popup(popupFont(), systemWantsFadeEffects());
    SessionLink agent(popup);
    switch (agent.start(agentChannelName())) {
    case AgentAnswer::Welcome:
        return runSessionMode(app, agent);
    case AgentAnswer::Refused:
        // The agent owns the port and shows nothing here (a greeter, a session that is not graphical).
        std::fprintf(stderr, "plinket_client: the host agent serves no pop-up here: %s\n", qPrintable(agent.refusal()));
        return 0;
    case AgentAnswer::NoAgent:
        break;
    }

    if (!initNetworking()) {
        showStartupError(QStringLiteral("Can't init TCP/IP stack."));
        return 0;
    }
    // Messages and reports travel on the office network itself, never through a configured proxy.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    std::unique_ptr<MessageSocket> socket = MessageSocket::open();
    if (!socket) {
        showStartupError(QStringLiteral("Can't open port 47127. Already busy?"));
        return 0;
    }
    const std::optional<HostNames> names = localHostNames();
    if (!names) {
        showStartupError(QStringLiteral("Some problems with ws2_32.dll were encountered."));
        return 0;
    }
    ClientState state;
    state.hostName = names->hostName;
    state.fqdn = names->fqdn;
    state.fadeEffects = systemWantsFadeEffects();

    if (!registerEventSource(EventSource::Client)) {
        showMessageBox(BoxIcon::Error, QStringLiteral("Error!"),
                       QStringLiteral("Can't create registry key.\rThe program is interrupted."));
        return 0;
    }

    SessionEndWatcher sessionEnd;
    watchSessionEnd(app, sessionEnd);

    Receiver receiver(state, popup, std::move(socket));
    PolicyWatcher policy(clientPolicyDirectory());
    const WorkstationKey workstationKey = loadWorkstationKey(clientPolicyDirectory(), true);
    QList<PolicyProblem> problems = policy.startupProblems();
    if (workstationKey.problem)
        problems.append(*workstationKey.problem);
    for (const PolicyProblem& problem : std::as_const(problems)) {
        printProblem(problem);
        reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_FILE_REFUSED, problem.path,
                    problem.reason);
    }
    receiver.setPolicy(policy.policy());
    journalPolicyChanges(policy, "plinket_client");
    QObject::connect(&policy, &PolicyWatcher::changed, &receiver, &Receiver::setPolicy);
    QObject::connect(&sessionEnd, &SessionEndWatcher::reloadRequested, &policy, [&policy] {
        std::fprintf(stderr, "plinket_client: SIGHUP: reading %s again\n", qPrintable(policy.directory()));
        policy.reread();
    });
    receiver.setWorkstationKey(workstationKey.key);
    receiver.start();
    QApplication::exec();
    return 0;
}
