#pragma once

// Files that only their owner may read: the console's secret signing key.

#include <QByteArray>
#include <QString>

#include <optional>

namespace plinket {

// Creates `path`, which must not exist yet, readable and writable by the current user only from the
// first moment, and writes `bytes` to it. False (and no file left behind) when anything fails;
// `error` then gets the system's reason.
bool createPrivateFile(const QString& path, const QByteArray& bytes, QString* error);

// Whether users other than the file's owner (and the system's administrators) may read it; nothing
// when the file's permissions cannot be read.
std::optional<bool> othersMayRead(const QString& path);

} // namespace plinket
