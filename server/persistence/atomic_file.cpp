#include "atomic_file.h"

#include "file_access.h"
#include "regular_file.h"

#include <QSaveFile>

namespace plinket {

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    const std::optional<FileAccess> access = readFileAccess(path);
    QSaveFile file(path);
    // No direct-write fallback: a folder we cannot create a file in fails the save rather than
    // risking a cut file.
    file.setDirectWriteFallback(false);
    bool ok = file.open(QIODevice::WriteOnly);
    // A short write (full disk, file size limit) can go unreported by write() and commit(): the
    // flushed size is what tells, and a short file must never replace the old one.
    if (ok && (file.write(bytes) != bytes.size() || !file.flush() || file.size() != bytes.size() ||
               file.error() != QFileDevice::NoError)) {
        if (error)
            *error = file.error() == QFileDevice::NoError ? QStringLiteral("Could not write the whole file")
                                                          : file.errorString();
        file.cancelWriting();
        return false;
    }
    if (ok)
        ok = file.commit();
    if (!ok && error)
        *error = file.errorString();
    // The content is in place; access rules that cannot be put back leave the folder's, which the
    // save does not fail for.
    if (ok && access)
        restoreFileAccess(path, *access);
    return ok;
}

bool readWholeFile(const QString& path, QByteArray* bytes) {
    return readRegularFile(path, bytes) == FileReadStatus::Read;
}

} // namespace plinket
