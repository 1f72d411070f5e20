// config.ini, clients.ini and templates.ini replaced by something that exists but cannot be read: a
// FIFO (which used to block the console for ever), a folder, a device (endless bytes), a file over
// the size limit, and a write-only file. Each goes through the console's own steps for that file;
// none may hang, and none may be emptied or replaced.

#include "client_directory.h"
#include "regular_file.h"
#include "settings.h"
#include "templates.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace plinket;

namespace {

enum class Kind { Fifo, Folder, Device, Oversize, WriteOnly };

bool makeHostile(const QString& path, Kind kind) {
    switch (kind) {
    case Kind::Fifo:
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    case Kind::Folder:
        return QDir().mkdir(path);
    case Kind::Device:
        return QFile::link(u"/dev/zero"_qs, path);
    case Kind::Oversize: {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("[G]\r\nk = v\r\n") > 0 &&
               file.resize(MAX_CONSOLE_FILE_BYTES + 1);
    }
    case Kind::WriteOnly: {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("[G]\r\nk = v\r\n") > 0 &&
               file.setPermissions(QFile::WriteOwner);
    }
    }
    return false;
}

// What tells that a file was left alone: its type, size, time and permissions.
QString fingerprint(const QString& path) {
    const QFileInfo info(path);
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(info.isSymLink() ? info.symLinkTarget() : u"-"_qs)
        .arg(info.isDir())
        .arg(info.isFile())
        .arg(info.isSymLink() ? 0 : info.size())
        .arg(info.lastModified().toMSecsSinceEpoch())
        .arg(int(info.permissions()));
}

} // namespace

class TestHostileFiles final : public QObject {
    Q_OBJECT

private slots:
    void neverReadNorReplaced_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("file");
        const std::pair<const char*, Kind> kinds[] = {{"FIFO", Kind::Fifo},
                                                      {"folder", Kind::Folder},
                                                      {"link to /dev/zero", Kind::Device},
                                                      {"over 64 MiB", Kind::Oversize},
                                                      {"write-only", Kind::WriteOnly}};
        for (const auto& [name, kind] : kinds) {
            for (const char* file : {"config.ini", "clients.ini", "templates.ini"})
                QTest::addRow("%s %s", file, name) << kind << QString::fromLatin1(file);
        }
    }
    void neverReadNorReplaced() {
        QFETCH(Kind, kind);
        QFETCH(QString, file);
        if (kind == Kind::WriteOnly && ::geteuid() == 0)
            QSKIP("root reads a write-only file");
        QTemporaryDir dir;
        const QString path = dir.filePath(file);
        QVERIFY(makeHostile(path, kind));
        const QString before = fingerprint(path);
        QCOMPARE(readRegularFile(path, nullptr), FileReadStatus::Unreadable);

        if (file == u"config.ini"_qs) {
            const ServerSettings loaded = loadSettings(path, QSize(1920, 1080));
            QCOMPARE(loaded.clientsPath, ServerSettings().clientsPath);
            QVERIFY(!saveSettings(path, loaded, QSize(1920, 1080)));
        } else if (file == u"clients.ini"_qs) {
            QVERIFY(!ensureClientsFile(path)); // the console shows errClientsFile and ends
            QCOMPARE(migrateClientsFile(path).status, MigrationStatus::NotReadable);
            QCOMPARE(loadRecipients(path).size(), 1);
            QVERIFY(!QFileInfo::exists(path + u".bak"_qs));
        } else {
            TemplateCatalog catalog = loadTemplates(path);
            QVERIFY(catalog.isEmpty());
            const TemplateSaveResult saved = saveTemplate(path, catalog, u"Lunch"_qs, u"Lunch is served."_qs);
            QCOMPARE(saved.status, TemplateSaveStatus::WriteFailed); // the "Can't save template!" box
            QVERIFY(catalog.isEmpty());
            QVERIFY(!removeTemplate(path, catalog, u"Lunch"_qs, -1));
        }
        QCOMPARE(fingerprint(path), before);
    }
};

QTEST_APPLESS_MAIN(TestHostileFiles)
#include "tst_hostile_files.moc"
