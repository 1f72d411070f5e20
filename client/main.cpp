// plinket_client: waits on UDP 47127 for messages from the console, shows each one in a pop-up until the
// user presses OK, and answers the sender twice (shown, confirmed). No window of its own; the command line
// has only --help and --version, and the only setting is the workstation's signature policy in
// /etc/plinket (client_policy.h). Every way out of a normal start ends with exit code 0.

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

    WidgetPopup popup(popupFont(), state.fadeEffects);

    SessionEndWatcher sessionEnd;
    QObject::connect(&sessionEnd, &SessionEndWatcher::sessionEnding, [] { endSession(); });
#if QT_CONFIG(sessionmanager)
    QObject::connect(&app, &QGuiApplication::commitDataRequest, [](QSessionManager&) { endSession(); });
#endif

    reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_STARTED, QString::fromUtf16(CLIENT_VERSION));
    if (!popupDesktop().keepsOnTop)
        reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_NOT_ON_TOP);

    Receiver receiver(state, popup, std::move(socket));
    const ClientPolicy policy = loadClientPolicy(clientPolicyDirectory());
    for (const QString& problem : policy.problems)
        std::fprintf(stderr, "plinket_client: %s\n", qPrintable(problem));
    if (policy.checksSignatures())
        receiver.setMessageGate(std::make_unique<MessageGate>(policy));
    receiver.start();
    QApplication::exec();
    return 0;
}
