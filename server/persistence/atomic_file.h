#pragma once

#include <QByteArray>
#include <QString>

namespace plinket {

// Writes `bytes` to a new file beside `path` and then puts it in place of `path` in one step, so
// readers see either the old content or the complete new one, never a cut file. An existing
// file's permissions are kept; a symbolic link is followed and its target replaced. Returns false
// (and leaves `path` as it was) when anything fails, a full disk included; `error` then gets the
// system's reason.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The whole content of a regular file, or nothing when it cannot be read (see readRegularFile).
bool readWholeFile(const QString& path, QByteArray* bytes);

} // namespace plinket
