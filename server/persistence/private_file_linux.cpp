#include "private_file.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plinket {

bool createPrivateFile(const QString& path, const QByteArray& bytes, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    // O_EXCL: never replaces a file, and never follows a link someone left in its place.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool ok = done == bytes.size() && ::fsync(fd) == 0;
    if (!ok)
        *error = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
    ::close(fd);
    if (!ok)
        ::unlink(name.constData());
    return ok;
}

std::optional<bool> othersMayRead(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    // With an access control list the group bits hold its mask, so a named user's read right shows here too.
    return (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

} // namespace plinket
