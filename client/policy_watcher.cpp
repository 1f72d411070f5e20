#include "policy_watcher.h"

#include "eventlog.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace plinket {

namespace {

ClientPolicy withoutProblems(ClientPolicy policy) {
    policy.problems.clear();
    return policy;
}

} // namespace

PolicyWatcher::PolicyWatcher(QString directory, QObject* parent)
    : QObject(parent), m_directory(std::move(directory)), m_settings(loadClientSettings(m_directory)),
      m_keys(loadTrustedKeys(m_directory)) {
    // At start-up a part with problems applies with its strict fallbacks, as it always has.
    m_policy = combinedPolicy(m_settings, m_keys);
    m_startupProblems = std::exchange(m_policy.problems, {});
    m_settings = withoutProblems(m_settings);
    m_keys = withoutProblems(m_keys);

    m_settle.setSingleShot(true);
    m_settle.setInterval(SETTLE_MS);
    connect(&m_settle, &QTimer::timeout, this, &PolicyWatcher::reread);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &PolicyWatcher::fileChanged);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &PolicyWatcher::fileChanged);
    watch();
}

void PolicyWatcher::fileChanged() {
    // Each change of a burst puts the read off again, up to a limit.
    if (!m_settle.isActive())
        m_settleLimit.setRemainingTime(LONGEST_SETTLE_MS);
    if (!m_settle.isActive() || !m_settleLimit.hasExpired())
        m_settle.start();
}

void PolicyWatcher::reread() {
    m_settle.stop();
    const ClientPolicy settings = loadClientSettings(m_directory);
    const ClientPolicy keys = loadTrustedKeys(m_directory);
    for (const ClientPolicy* part : {&settings, &keys})
        for (const PolicyProblem& problem : part->problems)
            emit refused(problem);
    if (settings.problems.isEmpty())
        m_settings = settings;
    if (keys.problems.isEmpty())
        m_keys = keys;
    watch();
    const ClientPolicy next = combinedPolicy(m_settings, m_keys);
    const QString what = describePolicyChange(m_policy, next);
    if (!what.isEmpty()) {
        m_policy = next;
        emit changed(m_policy, what);
    }
    emit readAgain();
}

void PolicyWatcher::watch() {
    const QDir dir(m_directory);
    QStringList wanted{m_directory, dir.filePath(u"client.conf"_qs)};
    const QDir keys(dir.filePath(u"trusted-keys"_qs));
    wanted.append(keys.path());
    for (const QString& name : keys.entryList({u"*.pub"_qs}, QDir::Files | QDir::System | QDir::Hidden))
        wanted.append(keys.filePath(name));
    // Only what exists can be watched; a file replaced by rename is a new file under the old name.
    QStringList stale = m_watcher.files() + m_watcher.directories();
    for (const QString& path : std::as_const(stale))
        if (!wanted.contains(path) || !QFileInfo::exists(path))
            m_watcher.removePath(path);
    stale = m_watcher.files() + m_watcher.directories();
    for (const QString& path : std::as_const(wanted))
        if (!stale.contains(path) && QFileInfo::exists(path))
            m_watcher.addPath(path);
}

void journalPolicyChanges(PolicyWatcher& watcher, const char* program) {
    QObject::connect(&watcher, &PolicyWatcher::refused, &watcher, [program](const PolicyProblem& problem) {
        std::fprintf(stderr, "%s: %s: %s\n", program, qPrintable(problem.path), qPrintable(problem.reason));
        reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_FILE_REFUSED, problem.path,
                    problem.reason);
    });
    QObject::connect(
        &watcher, &PolicyWatcher::changed, &watcher,
        [program, directory = QDir::toNativeSeparators(watcher.directory())](const ClientPolicy&, const QString& what) {
            std::fprintf(stderr, "%s: %s read again: %s\n", program, qPrintable(directory), qPrintable(what));
            reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_POLICY_CHANGED, directory, what);
        });
}

} // namespace plinket
