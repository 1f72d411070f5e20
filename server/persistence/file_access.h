#pragma once

// Who may do what with a file, carried over when a save replaces the file with a new one. On Linux
// the replacing save keeps the mode bits itself and there is nothing to carry; on Windows the new
// file would take its access control list from the folder, so an administrator's list on the old file
// (a file kept from other users, or shared with them) is read before the save and put back after it.

#include <QByteArray>
#include <QString>

#include <optional>

namespace plinket {

struct FileAccess {
    QByteArray rules; // the platform's own form; empty where the save keeps access itself
};

// The access rules of an existing file; nothing when there is no file or its rules cannot be read.
std::optional<FileAccess> readFileAccess(const QString& path);

// Gives `path` the rules read from the file it replaced. False when they could not be set.
bool restoreFileAccess(const QString& path, const FileAccess& access);

} // namespace plinket
