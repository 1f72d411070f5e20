// Writes the programs' icons as PNG files for the desktop's icon theme:
//   plinket_icons DIR   ->  DIR/<n>x<n>/apps/plinket-client.png and plinket-server.png, for every size
#include "program_icons.h"

#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: plinket_icons DIR\n", stderr);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const std::pair<plinket::ProgramIcon, QString> icons[] = {
        {plinket::ProgramIcon::Client, QStringLiteral("plinket-client.png")},
        {plinket::ProgramIcon::Console, QStringLiteral("plinket-server.png")},
    };
    for (int size : plinket::PROGRAM_ICON_SIZES) {
        const QString dir = QStringLiteral("%1x%1/apps").arg(size);
        if (!root.mkpath(dir))
            return 1;
        for (const auto& [which, name] : icons) {
            if (!plinket::drawProgramIcon(which, size).save(root.filePath(dir + u'/' + name), "PNG")) {
                std::fprintf(stderr, "plinket_icons: cannot write %s\n", qPrintable(root.filePath(dir + u'/' + name)));
                return 1;
            }
        }
    }
    return 0;
}
