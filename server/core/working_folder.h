#pragma once

// The console keeps config.ini, clients.ini and templates.ini in its working folder. Started from the
// desktop menu it is given one with --working-folder, since a menu would start it in the home folder.

#include <QString>

#include <optional>

namespace plinket {

// "~" or "~/..." taken from the home folder; anything else as it is.
QString expandHomeFolder(const QString& path);

// Makes `path` (created if missing) the current folder. On failure prints why and returns exit code 1;
// std::nullopt when the console may start.
std::optional<int> enterWorkingFolder(const QString& path);

} // namespace plinket
