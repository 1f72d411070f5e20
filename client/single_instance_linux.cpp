#include "single_instance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace plinket {

SingleInstance::~SingleInstance() {
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
}

bool SingleInstance::acquire() {
    const QString runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtimeDir.isEmpty())
        return true;
    // One per session, not per user: a user logged in twice (a terminal server and the console, say)
    // has a pop-up in each session. The runtime directory is the user's, shared by their sessions.
    const QString session = qEnvironmentVariable("XDG_SESSION_ID");
    const QString name = session.isEmpty() ? QStringLiteral("plinket-client.lock")
                                           : QStringLiteral("plinket-client-%1.lock").arg(session);
    const QByteArray path = QFile::encodeName(QDir(runtimeDir).filePath(name));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool heldByOther = errno == EWOULDBLOCK;
        ::close(fd);
        return !heldByOther;
    }
    m_handle = fd;
    return true;
}

} // namespace plinket
