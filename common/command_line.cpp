#include "command_line.h"

#include <QCommandLineParser>

#include <cstdio>

namespace plinket {

namespace {

void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

CommandLineOutcome usageError(const QString& program, const QString& what) {
    return {EXIT_USAGE, {}, program + u": " + what + u"\nTry '" + program + u" --help' for more information.\n"};
}

} // namespace

CommandLineOutcome parseCommandLine(const ProgramCommandLine& program, const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(program.description);
    // Our own --help and --version: the parser's stock ones would list the toolkit's options, which
    // are not accepted here, and ask for an application object.
    const QCommandLineOption help({u"h"_qs, u"help"_qs}, u"Show this help and exit."_qs);
    const QCommandLineOption version({u"v"_qs, u"version"_qs}, u"Show the version and exit."_qs);
    parser.addOption(help);
    parser.addOption(version);
    for (const ProgramOption& o : program.options)
        parser.addOption(o.option);

    if (!parser.parse(arguments))
        return usageError(program.name, parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(program.name, u"unexpected argument '"_qs + parser.positionalArguments().first() + u"'.");
    if (parser.isSet(help)) {
        // The parser names the program "<executable_name>" without an application object.
        const QString text = parser.helpText();
        return {0, u"Usage: " + program.name + u" [options]" + text.mid(text.indexOf(u'\n')), {}};
    }
    if (parser.isSet(version))
        return {0, program.name + u' ' + QStringLiteral(PLINKET_VERSION) + u'\n', {}};
    for (const ProgramOption& o : program.options) {
        if (!parser.isSet(o.option))
            continue;
        if (const std::optional<int> code =
                o.handler(o.option.valueName().isEmpty() ? QString() : parser.value(o.option)))
            return {code, {}, {}};
    }
    return {};
}

std::optional<int> handleCommandLine(const ProgramCommandLine& program, int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLineOutcome outcome = parseCommandLine(program, arguments);
    print(stdout, outcome.output);
    print(stderr, outcome.error);
    return outcome.exitCode;
}

} // namespace plinket
