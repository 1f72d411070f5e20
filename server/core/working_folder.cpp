#include "working_folder.h"

#include <QDir>

#include <cstdio>

namespace plinket {

QString expandHomeFolder(const QString& path) {
    if (path == u"~" || path.startsWith(u"~/"))
        return QDir::homePath() + path.mid(1);
    return path;
}

std::optional<int> enterWorkingFolder(const QString& path) {
    const QString folder = expandHomeFolder(path);
    if (QDir().mkpath(folder) && QDir::setCurrent(folder))
        return std::nullopt;
    std::fprintf(stderr, "plinket_server: cannot use the folder '%s'\n", qPrintable(folder));
    return 1;
}

} // namespace plinket
