#include "regular_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plinket {

FileReadStatus readRegularFile(const QString& path, QByteArray* bytes) {
    // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting for one.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? FileReadStatus::Missing : FileReadStatus::Unreadable;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MAX_CONSOLE_FILE_BYTES)
        return FileReadStatus::Unreadable;
    if (!bytes)
        return FileReadStatus::Read;

    // The size is only a hint: the file may change while it is read, but never past the limit.
    QByteArray data;
    data.reserve(qsizetype(info.st_size));
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || data.size() + n > MAX_CONSOLE_FILE_BYTES)
            return FileReadStatus::Unreadable;
        if (n == 0)
            break;
        data.append(chunk, qsizetype(n));
    }
    *bytes = std::move(data);
    return FileReadStatus::Read;
}

} // namespace plinket
