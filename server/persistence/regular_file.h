#pragma once

// Reading the console's own files safely. config.ini, clients.ini and templates.ini are named by
// the administrator (or by config.ini), so any path may turn up there: a FIFO would block the
// console for ever with no window, a device such as /dev/zero would never end. Only a regular file
// of at most MAX_CONSOLE_FILE_BYTES is read; anything else counts as a file that exists but cannot
// be read, which callers must never empty or replace.

#include <QByteArray>
#include <QString>

namespace plinket {

// Far above any real file: 1.5 million clients fill about 50 MB.
inline constexpr qint64 MAX_CONSOLE_FILE_BYTES = qint64(64) * 1024 * 1024;

enum class FileReadStatus {
    Read,       // a regular file, read whole
    Missing,    // nothing of that name (the file may be created)
    Unreadable, // exists but could not be read: permissions, not a regular file, too large, read error
};

// Opens `path` without blocking and reads it whole into `bytes`. With `bytes` null the file is only
// opened and checked (type and size), not read.
FileReadStatus readRegularFile(const QString& path, QByteArray* bytes);

} // namespace plinket
