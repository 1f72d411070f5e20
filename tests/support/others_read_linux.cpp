#include "test_files.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace plinket::test {

bool letOthersRead(const QString& path) {
    return QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadGroup | QFile::ReadOther);
}

bool unixFiles() {
    return true;
}

bool keepPrivate(const QString& path) {
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

bool makeFifo(const QString& path) {
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool giveToNobody(const QString& path) {
    return ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
}

bool runningAsRoot() {
    return ::geteuid() == 0;
}

} // namespace plinket::test
