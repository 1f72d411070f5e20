#include "send_command_line.h"

#include <QCommandLineParser>
#include <QHostAddress>

namespace plinket {

namespace {

const QString DESCRIPTION = QStringLiteral(
    "Puts a message on the screens of Plinket clients, as the console's Send does, and waits for their\n"
    "reports. TEXT is the message (several arguments are joined by blanks); \"-\" reads it from standard\n"
    "input. The recipients are named as in the console's clients.ini.\n"
    "\n"
    "With --probe nothing is shown: each recipient (the positional arguments are then hosts) is asked\n"
    "whether a Plinket receiver listens there and which version; exit code 0 when every one answered.\n"
    "\n"
    "Exit codes: 0 every recipient reached the required state; 1 some did not; 2 usage or input error\n"
    "(nothing sent); 3 nothing could be sent (no address for any recipient, or the report port is taken).");

} // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(DESCRIPTION);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption to(u"to"_qs,
                                u"A group or a client as named in clients.ini; a group means all its "
                                "clients. Repeatable."_qs,
                                u"NAME"_qs);
    const QCommandLineOption host(u"host"_qs, u"An address or host name that is not in clients.ini. Repeatable."_qs,
                                  u"HOST"_qs);
    const QCommandLineOption all(u"all"_qs, u"Every client in clients.ini."_qs);
    const QCommandLineOption clients(u"clients"_qs,
                                     u"The client directory (default: the file config.ini in the working folder "
                                     "names, else ./clients.ini)."_qs,
                                     u"FILE"_qs);
    const QCommandLineOption broadcast(u"broadcast"_qs,
                                       u"Send one datagram to this IPv4 broadcast address for every client in "
                                       "clients.ini, as the console's broadcast mode."_qs,
                                       u"ADDRESS"_qs);
    const QCommandLineOption lang(
        u"lang"_qs,
        u"Language of the pop-up and of the output: EN or RU (default: config.ini's; without config.ini, RU for a Russian locale, else EN)."_qs,
        u"EN|RU"_qs);
    const QCommandLineOption wait(u"wait"_qs, u"Wait at most this long for reports (default 60; 0 sends and exits)."_qs,
                                  u"SECONDS"_qs);
    const QCommandLineOption require(u"require"_qs,
                                     u"What a recipient must report to count as reached: delivered or confirmed "
                                     "(default)."_qs,
                                     u"STATE"_qs);
    const QCommandLineOption json(u"json"_qs, u"Print one JSON object instead of one line per recipient."_qs);
    const QCommandLineOption probe(u"probe"_qs,
                                   u"Send no message: ask each recipient whether a Plinket receiver listens and "
                                   "which version (waits 2 s unless --wait is given)."_qs);
    parser.addOptions({to, host, all, clients, broadcast, lang, wait, require, json, probe});
    parser.addPositionalArgument(u"TEXT"_qs, u"The message, or - to read it from standard input."_qs);

    CommandLine result;
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet(help) || parser.isSet(u"help-all"_qs)) {
        result.output = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.output = u"plinket_send "_qs + QString::fromLatin1(PLINKET_VERSION) + u'\n';
        return result;
    }

    SendOptions o;
    o.names = parser.values(to);
    o.hosts = parser.values(host);
    o.all = parser.isSet(all);
    o.clientsFile = parser.value(clients);
    o.broadcastAddress = parser.value(broadcast);
    o.json = parser.isSet(json);
    o.probe = parser.isSet(probe);
    const QStringList positional = parser.positionalArguments();
    if (o.probe) {
        o.hosts += positional;
        o.waitSeconds = PROBE_WAIT_SECONDS;
    } else {
        o.textFromStdin = positional == QStringList{u"-"_qs};
        if (!o.textFromStdin)
            o.text = positional.join(u' ');
    }

    QStringList errors;
    for (const QString& h : std::as_const(o.hosts))
        if (h.trimmed().isEmpty())
            errors.append(u"--host wants an address or a host name"_qs);
    if (parser.isSet(broadcast)) {
        const QHostAddress address(o.broadcastAddress);
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            errors.append(u"--broadcast wants an IPv4 address such as 192.168.0.255"_qs);
        if (!o.names.isEmpty() || !o.hosts.isEmpty())
            errors.append(u"--broadcast reaches every client in clients.ini; it takes no --to or --host"_qs);
    }
    if (o.probe && parser.isSet(broadcast))
        errors.append(u"--probe asks each host on its own; it takes no --broadcast"_qs);
    if (o.probe && !o.needsDirectory() && o.hosts.isEmpty())
        errors.append(u"no hosts to probe: give HOST..., --to NAME or --all"_qs);
    else if (!o.needsDirectory() && o.hosts.isEmpty())
        errors.append(u"no recipients: give --to NAME, --host HOST, --all or --broadcast ADDRESS"_qs);
    if (positional.isEmpty() && !o.probe)
        errors.append(u"no message text (give it as an argument, or - to read standard input)"_qs);
    if (parser.isSet(lang)) {
        o.language = parser.value(lang).toUpper();
        if (o.language != u"EN"_qs && o.language != u"RU"_qs)
            errors.append(u"--lang wants EN or RU"_qs);
    }
    if (parser.isSet(wait)) {
        bool ok = false;
        o.waitSeconds = parser.value(wait).toInt(&ok);
        if (!ok || o.waitSeconds < 0 || o.waitSeconds > MAX_WAIT_SECONDS)
            errors.append(QStringLiteral("--wait wants whole seconds from 0 to %1").arg(MAX_WAIT_SECONDS));
        else if (o.probe && o.waitSeconds == 0)
            errors.append(u"--probe waits for answers: give --wait of at least 1"_qs);
    }
    if (parser.isSet(require)) {
        const QString state = parser.value(require).toLower();
        if (state == u"delivered"_qs)
            o.require = Requirement::Delivered;
        else if (state != u"confirmed"_qs)
            errors.append(u"--require wants delivered or confirmed"_qs);
    }
    if (!errors.isEmpty()) {
        result.error = errors.join(u"\n"_qs);
        return result;
    }
    result.options = o;
    return result;
}

} // namespace plinket
