// plinket_client: waits on UDP 47127 for messages from the console, shows each one in a pop-up until the
// user presses OK, and answers the sender twice (shown, confirmed). No window of its own; the command line
// has only --help and --version, and the only setting is the workstation's signature policy in
// /etc/plinket (client_policy.h). Every way out of a normal start ends with exit code 0.
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
#include "popup_native.h"
#include "popup_window.h"
#include "receiver.h"
#include "session_end.h"
#include "session_link.h"
#include "single_instance.h"
#include "widget_popup.h"

#include <QApplication>
#include <QNetworkProxy>
#include <QUdpSocket>

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

} // namespace

int main(int argc, char* argv[]) {
    const ProgramCommandLine commandLine{
        u"plinket_client"_qs,
        u"Plinket's receiver: waits on UDP port 47127 for messages from the console and shows each one until "
        "the user presses OK. Started by the desktop session at login."_qs,
        {}};
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
    auto socket = std::make_unique<QUdpSocket>();
    if (!bindMessageSocket(*socket)) {
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

    Receiver receiver(state, popup, socket.release());
    const ClientPolicy policy = loadClientPolicy(clientPolicyDirectory());
    for (const QString& problem : policy.problems)
        std::fprintf(stderr, "plinket_client: %s\n", qPrintable(problem));
    if (policy.checksSignatures())
        receiver.setMessageGate(std::make_unique<MessageGate>(policy));
    receiver.start();
    QApplication::exec();
    return 0;
}
