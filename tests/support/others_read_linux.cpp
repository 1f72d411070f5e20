#include "test_files.h"

#include <QFile>

namespace plinket::test {

bool letOthersRead(const QString& path) {
    return QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadGroup | QFile::ReadOther);
}

} // namespace plinket::test
