#pragma once

// plinket_send's command line: who gets the message, its text, how long to wait for reports, what
// counts as reached, and the output form. Widget-free and side-effect free: parsing reads nothing
// but the arguments, so `--help` and every usage error leave the files and the network alone.

#include <QString>
#include <QStringList>

#include <optional>

namespace plinket {

// What a recipient must have reported for the run to count it as reached.
enum class Requirement { Delivered, Confirmed };

// The longest --wait, in seconds (a day); 0 sends and exits without waiting.
inline constexpr int MAX_WAIT_SECONDS = 86'400;
// How long --probe waits for answers unless --wait says otherwise.
inline constexpr int PROBE_WAIT_SECONDS = 2;

struct SendOptions {
    QStringList names;        // --to: groups and clients as named in clients.ini
    QStringList hosts;        // --host: addresses or host names outside the directory
    bool all = false;         // --all: every client of the directory
    QString clientsFile;      // --clients; empty: the file config.ini names, else ./clients.ini
    QString broadcastAddress; // --broadcast: one datagram to this IPv4 address for the whole directory
    QString text;             // the positional arguments joined by blanks (raw, see messageTextFrom)
    bool textFromStdin = false;
    QString language; // --lang as "EN" / "RU"; empty: config.ini's, else the locale's
    int waitSeconds = 60;
    Requirement require = Requirement::Confirmed;
    bool json = false;
    // --probe: ask the recipients whether a Plinket receiver listens (probe.h) instead of sending a
    // message; the positional arguments are then hosts, as with --host, and --wait defaults to 2 s.
    bool probe = false;

    // Whether the recipients come (at least partly) from clients.ini.
    bool needsDirectory() const { return all || !names.isEmpty() || !broadcastAddress.isEmpty(); }
};

struct CommandLine {
    std::optional<SendOptions> options; // set when the program should send
    QString error;                      // a usage error (exit code 2)
    QString output;                     // --help or --version text (print, exit code 0)
};

// `arguments` as QCoreApplication::arguments() gives them, the program's name first.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace plinket
