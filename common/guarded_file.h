#pragma once

// Files the programs trust: keys, and the settings of a workstation. Each is checked the way a careful
// daemon checks its own files before it believes a byte of them:
//
//   Private        a secret key (the console's signing.key, a workstation's report key): a regular file
//                  owned by the user running the program, readable and writable by nobody else
//   Administrator  a setting or trusted key of this computer (client.conf, trusted-keys/*.pub): a regular
//                  file owned by root, writable by nobody else (Windows: owned by the Administrators or
//                  SYSTEM, writable by nobody else)
//
// A file is opened without blocking and checked through the open handle, so a FIFO or a device put in
// its place is refused at once instead of hanging the program, and a file swapped between check and
// read is never read unchecked. Platform parts in guarded_file_linux.cpp / guarded_file_windows.cpp.

#include <QByteArray>
#include <QString>

namespace plinket {

enum class FileGuard { Private, Administrator };

inline constexpr qint64 GUARDED_FILE_LIMIT = 64 * 1024;

struct GuardedRead {
    enum class Status {
        Read,    // checked and read whole
        Missing, // nothing of that name
        Refused, // exists, but fails the checks or cannot be read: `problem` says why
    };
    Status status = Status::Missing;
    QByteArray bytes;
    QString problem; // English, for messages and the journal, e.g. "writable by group or others (mode 0666)"
};

GuardedRead readGuardedFile(const QString& path, FileGuard guard, qint64 limit = GUARDED_FILE_LIMIT);

// The checks of FileGuard::Administrator for a folder of trusted files. Empty when it passes or does not
// exist (`exists` tells which); otherwise the problem.
QString guardedFolderProblem(const QString& path, bool* exists = nullptr);

// Creates `path`, which must not exist yet (nor be a link, not even a dangling one), and writes `bytes` to
// it: readable and writable by its owner only, or with `readableByAll` also readable by everyone (0644),
// whatever the umask. False (and nothing left behind) when anything fails; `error` then says why.
bool createGuardedFile(const QString& path, const QByteArray& bytes, bool readableByAll, QString* error);

// Tests and fuzz targets that cannot run as root: files owned by the user running them count as the
// administrator's. Never called by the programs.
void acceptOwnFilesAsAdministrators(bool accept);

} // namespace plinket
