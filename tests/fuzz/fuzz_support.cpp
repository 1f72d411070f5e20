#include "fuzz_target.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace plinket::fuzz {

namespace {
FailureHandler g_handler = nullptr;
} // namespace

void setFailureHandler(FailureHandler handler) {
    g_handler = handler;
}

void check(bool ok, const char* what) {
    if (ok)
        return;
    if (g_handler) {
        g_handler(what);
        return;
    }
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

QString scratchPath(const QString& fileName) {
    static QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a scratch folder\n");
        std::abort();
    }
    return dir.filePath(fileName);
}

void putFile(const QString& path, const QByteArray& bytes) {
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

} // namespace plinket::fuzz
