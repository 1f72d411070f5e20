#pragma once

// Turns the operating system's stop signals into a Qt signal on the event loop, so a program can end
// the way its own controls end it, and SIGHUP, where a program takes it as a request to read its
// configuration again, into another. On Linux the handler only writes the signal's number to a socket
// pair (async-signal-safe) and a socket notifier emits arrived() or reloadRequested(); on Windows no
// such signals reach a windowed program or a service and the watcher does nothing.

#include <QObject>

#include <initializer_list>

namespace plinket {

enum class StopSignal {
    Interrupt, // Ctrl+C in the terminal (SIGINT)
    Terminate, // a polite request to end (SIGTERM), as a session's end sends it
    HangUp,    // the terminal or session went away (SIGHUP)
    Reload,    // SIGHUP as a request to read the configuration again (reloadRequested); not with HangUp
};

// At most one watcher exists at a time. Destroying it gives the signals their default action back.
class SignalWatcher final : public QObject {
    Q_OBJECT

public:
    explicit SignalWatcher(std::initializer_list<StopSignal> watched, QObject* parent = nullptr);
    ~SignalWatcher() override;
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

signals:
    void arrived();
    // SIGHUP arrived and was watched as Reload. Several before the loop runs make one notice.
    void reloadRequested();

private:
    void drain();
};

} // namespace plinket
