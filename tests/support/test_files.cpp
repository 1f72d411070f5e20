#include "test_files.h"

#include <QFile>

namespace plinket::test {

QByteArray readFileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFileBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray hexBytes(const char* hex) {
    QByteArray compact(hex);
    compact.replace(' ', "").replace('\n', "");
    return QByteArray::fromHex(compact);
}

} // namespace plinket::test
