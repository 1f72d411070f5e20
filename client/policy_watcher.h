#pragma once

// Keeps the workstation's policy (client_policy.h) up to date while the program runs, so a changed
// client.conf or trusted key takes effect without a new login. It watches client.conf, the trusted-keys
// folder, every key file in it and the policy folder itself (editors save by writing a new file and
// renaming it over the old one, which ends a watch on the old file: the watches are set again after each
// read), and reads the files again half a second after the last change of a burst; reread() reads them
// at once (SIGHUP). A folder that does not exist when the program starts is first read on reread().
//
// Each part is read as at start-up and applies whole or not at all:
//   client.conf     require-signature, max-message-age, hold-time
//   trusted-keys    the keys and their names
// A part with any problem (refused, unreadable, a line not understood, a key file refused or damaged)
// is not used: the part that applied before stays, and each problem is reported (event 110). A mistake
// made while editing never turns the checks off, nor falls back to the defaults. A read that changes what
// applies reports what changed (event 111); one that changes nothing reports nothing.

#include "client_policy.h"

#include <QDeadlineTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

namespace plinket {

class PolicyWatcher final : public QObject {
    Q_OBJECT

public:
    static constexpr int SETTLE_MS = 500;
    // A file written without pause for this long is read all the same.
    static constexpr int LONGEST_SETTLE_MS = 5000;

    // Reads the policy from `directory` at once (its problems: startupProblems()) and starts watching.
    explicit PolicyWatcher(QString directory, QObject* parent = nullptr);

    const QString& directory() const { return m_directory; }
    const ClientPolicy& policy() const { return m_policy; }
    const QList<PolicyProblem>& startupProblems() const { return m_startupProblems; }

    // Reads both parts now.
    void reread();

signals:
    // What applies from now on, and what changed ("require-signature no -> yes; trusted keys: 1 -> 2").
    void changed(const ClientPolicy& policy, const QString& what);
    // A part of a re-read that is not used.
    void refused(const PolicyProblem& problem);
    // After each read again, whatever it found.
    void readAgain();

private:
    void fileChanged();
    void watch();

    QString m_directory;
    ClientPolicy m_settings; // the parts in use, without their problems
    ClientPolicy m_keys;
    ClientPolicy m_policy; // the two combined
    QList<PolicyProblem> m_startupProblems;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QDeadlineTimer m_settleLimit;
};

// Writes the watcher's reports to the journal (events 110 and 111) and to standard error, prefixed
// with `program`.
void journalPolicyChanges(PolicyWatcher& watcher, const char* program);

} // namespace plinket
