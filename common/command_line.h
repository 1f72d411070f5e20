#pragma once

// The command line of Plinket's programs: --help, --version, each program's own options, and a short
// error for anything else. It is read from the raw arguments before any application object exists, so
// --help and --version open no window, touch no file and bind no port.

#include <QCommandLineOption>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

namespace plinket {

// Exit code for a command line the program does not understand.
inline constexpr int EXIT_USAGE = 2;

// Runs when its option is given, with the option's value (empty for a switch). An exit code ends the
// program with it; std::nullopt lets the program start.
using OptionHandler = std::function<std::optional<int>(const QString& value)>;

struct ProgramOption {
    QCommandLineOption option;
    OptionHandler handler;
};

struct ProgramCommandLine {
    QString name;                 // the program file's name, as in "plinket_server --help"
    QString description;          // one or two sentences for --help
    QList<ProgramOption> options; // the program's own options, besides --help and --version
};

struct CommandLineOutcome {
    std::optional<int> exitCode; // set: end the program with it; unset: start the program
    QString output;              // for standard output (help, version)
    QString error;               // for standard error (what was wrong, where to find help)
};

// Reads `arguments` (the program name first, as argv). Handlers of the given options run in the order
// of the table, and the first that returns an exit code ends the program.
CommandLineOutcome parseCommandLine(const ProgramCommandLine& program, const QStringList& arguments);

// Parses, prints the outcome's texts and returns the exit code to end with, if any.
std::optional<int> handleCommandLine(const ProgramCommandLine& program, int argc, char** argv);

} // namespace plinket
