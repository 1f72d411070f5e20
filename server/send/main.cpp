// plinket_send: the console's Send for scripts. Reads the console's config.ini and clients.ini from the
// working folder (or --clients), sends through the console's own messaging core, waits for the reports,
// prints one line per recipient (or JSON), records the round in the event log as "Plinket Send", and
// tells the outcome by its exit code. See resources/man/plinket_send.1.

#include "client_directory.h"
#include "eventlog.h"
#include "network_init.h"
#include "protocol.h"
#include "send_command_line.h"
#include "send_inputs.h"
#include "send_output.h"
#include "send_platform.h"
#include "send_probe.h"
#include "send_session.h"
#include "signing_key_file.h"
#include "workstation_keys.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cstdio>

using namespace plinket;

namespace {

void writeTo(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void warn(const QString& line) {
    writeTo(stderr, u"plinket_send: "_qs + line + u'\n');
}

int usageError(const QString& text) {
    warn(text);
    writeTo(stderr, u"Try 'plinket_send --help' for more information.\n"_qs);
    return EXIT_USAGE;
}

int inputError(const QString& text) {
    warn(text + u"; nothing was sent"_qs);
    return EXIT_USAGE;
}

QString readStandardInput() {
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(in.readAll());
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"plinket_send"_qs);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(PLINKET_VERSION));

    const CommandLine commandLine = parseCommandLine(QCoreApplication::arguments());
    if (!commandLine.output.isEmpty()) {
        writeTo(stdout, commandLine.output);
        return EXIT_ALL_REACHED;
    }
    if (!commandLine.options)
        return usageError(commandLine.error);
    const SendOptions& options = *commandLine.options;

    const QString text = messageTextFrom(options.textFromStdin ? readStandardInput() : options.text);
    if (const QString problem = messageTextProblem(text); !problem.isEmpty() && !options.probe)
        return inputError(problem);

    const QString workingDirectory = QDir::currentPath();
    const ConsoleConfig config = readConsoleConfig(workingDirectory);
    if (!config.warning.isEmpty() && options.language.isEmpty())
        warn(config.warning);
    const QString language = options.language.isEmpty() ? config.language : options.language;

    // The console's signing key beside config.ini: scripted messages are signed as the console's are. A
    // key the console would refuse is refused here too.
    const SigningKeyFile signing = loadSigningKey(workingDirectory);
    const QString keyPath = QDir::toNativeSeparators(signing.path);
    switch (options.probe ? SigningKeyFile::State::Absent : signing.state) { // a probe is never signed
    case SigningKeyFile::State::Refused:
        return inputError(u"the signing key "_qs + keyPath + u" is not used: "_qs + signing.problem +
                          u" (it must be a regular file you own that nobody else can read or change: chmod 600)"_qs);
    case SigningKeyFile::State::Damaged:
        return inputError(keyPath + u" holds no signing key"_qs);
    case SigningKeyFile::State::Absent:
    case SigningKeyFile::State::Ready:
        break;
    }

    RecipientList directory;
    const QString clientsPath =
        options.clientsFile.isEmpty() ? config.clientsPath : QDir(workingDirectory).filePath(options.clientsFile);
    if (options.needsDirectory()) {
        const QFileInfo file(clientsPath);
        if (!file.isFile() || !file.isReadable())
            return inputError(u"cannot read the client directory "_qs + QDir::toNativeSeparators(clientsPath));
        directory = loadRecipients(clientsPath);
    }
    RecipientChoice choice = chooseRecipients(directory, options);
    if (!choice.unknownNames.isEmpty())
        return inputError(u"no group or client named \""_qs + choice.unknownNames.join(u"\", \""_qs) +
                          u"\" in the client directory"_qs);
    if (choice.clients == 0 && options.broadcastAddress.isEmpty())
        return inputError(u"the recipients named hold no clients"_qs);

    if (!initNetworking()) {
        warn(u"cannot use the network (Can't init TCP/IP stack.); nothing was sent"_qs);
        return EXIT_NOTHING_SENT;
    }
    if (options.probe) {
        const std::optional<QList<ProbeOutcome>> outcomes = runProbes(choice.list, options.waitSeconds);
        if (!outcomes) {
            warn(QStringLiteral("UDP port %1 is taken on this computer: a console or another plinket_send is running "
                                "here and receives the answers. Nothing was sent.")
                     .arg(REPORT_PORT));
            return EXIT_NOTHING_SENT;
        }
        writeTo(stdout, options.json ? QString::fromUtf8(probeJson(*outcomes)) : probeTable(*outcomes));
        return probeExitCode(*outcomes);
    }
    // Windows registers the event source once (administrator rights); without it the round is not
    // recorded, but the message still goes out.
    if (!registerEventSource(EventSource::Send))
        warn(u"cannot register the event source \"Plinket Send\"; this send is not recorded in the event log"_qs);

    // Ctrl+C or a service stop from here on closes the round and records it instead of losing it.
    holdStopRequests();
    QMutex recipientsLock;
    BroadcastSetting broadcast(BroadcastSnapshot{options.broadcastAddress.isEmpty() ? 0 : 1, options.broadcastAddress});
    const bool showProgress = stderrIsTerminal();
    const SendSetup setup{
        choice.list, recipientsLock, broadcast, language, QSysInfo::machineHostName().toUpper(), text,
        options.waitSeconds, options.require, showProgress, warn,
        [](const QString& line) { writeTo(stderr, u"\r"_qs + line + u"\x1b[K"_qs); }, signing.key,
        // The workstations' report keys, pinned beside clients.ini as the console pins them.
        std::make_shared<WorkstationKeys>(
            QFileInfo(clientsPath).absoluteDir().filePath(QString::fromUtf16(KNOWN_WORKSTATIONS_FILE_NAME)),
            EventSource::Send)};
    const SendRun run = runSend(setup);

    switch (run.end) {
    case SendEnd::PortBusy:
        warn(QStringLiteral("UDP port %1 is taken on this computer: a console or another plinket_send is running "
                            "here and receives the reports. Nothing was sent. Use --wait 0 to send without waiting "
                            "for reports.")
                 .arg(REPORT_PORT));
        return EXIT_NOTHING_SENT;
    case SendEnd::Refused:
        return inputError(run.refusal.section(u"\r\n"_qs, 0, 0));
    case SendEnd::Finished:
        break;
    }

    const SendOutcome& outcome = run.outcome;
    if (options.json)
        writeTo(stdout, QString::fromUtf8(jsonReport(outcome)));
    else
        writeTo(stdout, statusLines(outcome, language, u"\n"_qs));
    for (const RecipientOutcome& r : outcome.recipients)
        if (r.noAddress)
            warn(r.name + u": no address for \""_qs + r.host + u"\"; nothing was sent to it"_qs);
    if (outcome.datagramsSent == 0)
        warn(u"nothing could be sent"_qs);
    return exitCode(outcome, options.require);
}
