// Writes the programs' icons, drawn by the same code as their window icons:
//   plinket_icons DIR        ->  DIR/<n>x<n>/apps/plinket-client.png and plinket-server.png, for every size
//                                (the desktop's icon theme)
//   plinket_icons --ico DIR  ->  DIR/plinket-client.ico and plinket-server.ico (the Windows programs'
//                                icon resources: every size as PNG inside the icon file, as Windows
//                                Vista and later read it)
#include "program_icons.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cstdio>

namespace {

void appendLittleEndian16(QByteArray& out, quint16 value) {
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 2);
}

void appendLittleEndian32(QByteArray& out, quint32 value) {
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), 4);
}

// An icon file: a header, one 16-byte directory entry per image, then the PNG images.
QByteArray iconFile(plinket::ProgramIcon which) {
    QList<QByteArray> images;
    QList<int> sizes;
    for (int size : plinket::PROGRAM_ICON_SIZES) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!plinket::drawProgramIcon(which, size).save(&buffer, "PNG"))
            return {};
        images.append(png);
        sizes.append(size);
    }
    QByteArray out;
    appendLittleEndian16(out, 0); // reserved
    appendLittleEndian16(out, 1); // an icon, not a cursor
    appendLittleEndian16(out, quint16(images.size()));
    quint32 offset = quint32(6 + 16 * images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const char side = char(sizes[i] >= 256 ? 0 : sizes[i]);  // 0 stands for 256
        out.append(side).append(side).append('\0').append('\0'); // width, height, no palette, reserved
        appendLittleEndian16(out, 1);                            // colour planes
        appendLittleEndian16(out, 32);                           // bits per pixel
        appendLittleEndian32(out, quint32(images[i].size()));
        appendLittleEndian32(out, offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray& image : images)
        out.append(image);
    return out;
}

bool writeIconFiles(const QDir& root) {
    const std::pair<plinket::ProgramIcon, QString> icons[] = {
        {plinket::ProgramIcon::Client, QStringLiteral("plinket-client.ico")},
        {plinket::ProgramIcon::Console, QStringLiteral("plinket-server.ico")},
    };
    for (const auto& [which, name] : icons) {
        const QByteArray bytes = iconFile(which);
        QFile file(root.filePath(name));
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "plinket_icons: cannot write %s\n", qPrintable(file.fileName()));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const bool ico = argc == 3 && QByteArray(argv[1]) == "--ico";
    if (argc != 2 && !ico) {
        std::fputs("usage: plinket_icons [--ico] DIR\n", stderr);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[argc - 1]));
    if (ico)
        return root.mkpath(u"."_qs) && writeIconFiles(root) ? 0 : 1;
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
