#include "guarded_file.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plinket {

namespace {

std::atomic<bool> g_ownFilesAreAdministrators{false};

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

QString userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name) + QStringLiteral(" (uid %1)").arg(uid);
    return QStringLiteral("uid %1").arg(uid);
}

QString modeText(mode_t mode) {
    return QStringLiteral("mode %1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

// What is wrong with a file or folder of this owner and mode under `guard`; empty when nothing.
QString ownershipProblem(const struct stat& info, FileGuard guard) {
    const uid_t me = ::geteuid();
    if (guard == FileGuard::Private) {
        if (info.st_uid != me)
            return u"owned by "_qs + userName(info.st_uid) + u", not by "_qs + userName(me);
        if (info.st_mode & (S_IRWXG | S_IRWXO))
            return u"other users may read or change it ("_qs + modeText(info.st_mode) + u"; chmod 600)"_qs;
        return {};
    }
    const bool administrator = info.st_uid == 0 || (g_ownFilesAreAdministrators && info.st_uid == me);
    if (!administrator)
        return u"owned by "_qs + userName(info.st_uid) + u", not by root"_qs;
    // With an access control list the group bits hold its mask, so a named user's write right shows here too.
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return u"group or other users may change it ("_qs + modeText(info.st_mode) + u"; chmod go-w)"_qs;
    return {};
}

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

GuardedRead readGuardedFile(const QString& path, FileGuard guard, qint64 limit) {
    GuardedRead result;
    // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting for one; O_NOCTTY:
    // a terminal never becomes ours.
    const Descriptor file{::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0) {
        const int code = errno;
        if (code == ENOENT || code == ENOTDIR)
            return result;
        result.status = GuardedRead::Status::Refused;
        result.problem = u"cannot be read ("_qs + systemError(code) + u')';
        return result;
    }
    result.status = GuardedRead::Status::Refused;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        result.problem = u"cannot be read ("_qs + systemError(errno) + u')';
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.problem = u"not a regular file"_qs;
        return result;
    }
    result.problem = ownershipProblem(info, guard);
    if (!result.problem.isEmpty())
        return result;
    QByteArray bytes;
    char chunk[4096];
    while (true) {
        const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.problem = u"cannot be read ("_qs + systemError(errno) + u')';
            return result;
        }
        if (n == 0)
            break;
        if (bytes.size() + n > limit) {
            result.problem = QStringLiteral("larger than %1 bytes").arg(limit);
            return result;
        }
        bytes.append(chunk, qsizetype(n));
    }
    result.status = GuardedRead::Status::Read;
    result.bytes = std::move(bytes);
    result.problem.clear();
    return result;
}

QString guardedFolderProblem(const QString& path, bool* exists) {
    if (exists)
        *exists = false;
    const Descriptor folder{
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC)};
    if (folder.fd < 0) {
        const int code = errno;
        if (code == ENOENT)
            return {};
        if (exists)
            *exists = true;
        return code == ENOTDIR ? u"not a folder"_qs : u"cannot be read ("_qs + systemError(code) + u')';
    }
    if (exists)
        *exists = true;
    struct stat info {};
    if (::fstat(folder.fd, &info) != 0)
        return u"cannot be read ("_qs + systemError(errno) + u')';
    return ownershipProblem(info, FileGuard::Administrator);
}

bool createGuardedFile(const QString& path, const QByteArray& bytes, bool readableByAll, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    const mode_t mode = readableByAll ? 0644 : 0600;
    // O_EXCL: never replaces a file; with O_CREAT it never follows a link either, and O_NOFOLLOW says so.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        *error = systemError(errno);
        return false;
    }
    // The umask has taken bits away (or, at 000, left none away from 0600); the file gets exactly `mode`.
    bool ok = ::fchmod(fd, mode) == 0;
    qsizetype done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += n;
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok)
        *error = systemError(errno ? errno : EIO);
    ::close(fd);
    if (!ok)
        ::unlink(name.constData());
    return ok;
}

void acceptOwnFilesAsAdministrators(bool accept) {
    g_ownFilesAreAdministrators = accept;
}

} // namespace plinket
