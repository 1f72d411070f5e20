// config.ini, clients.ini and templates.ini replaced by something that exists but cannot be read: a
// FIFO (which used to block the console for ever), a folder, a device (endless bytes), a file over
// the size limit, and a write-only file. Each goes through the console's own steps for that file;
// none may hang, and none may be emptied or replaced.
//
// The keys and the workstation's policy, planted as an attacker or a careless hand leaves them: open to
// other users, owned by someone else, a FIFO or a device in their place, a link where the key generator
// writes. Each goes through the loader its program uses; none may hang, and none may be believed.

#include "client_directory.h"
#include "client_policy.h"
#include "guarded_file.h"
#include "regular_file.h"
#include "settings.h"
#include "signing_key_file.h"
#include "templates.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
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

// How a trusted file is planted: "mode 640" (ours, that mode), "nobody" (owned by user nobody, 0600),
// "fifo", "device" (a link to /dev/zero), "link" (a link to a good file of ours), "missing".
bool plant(const QString& path, const QString& how, const QByteArray& bytes, mode_t mode) {
    const QByteArray name = QFile::encodeName(path);
    if (how == u"fifo")
        return ::mkfifo(name.constData(), 0600) == 0;
    if (how == u"device")
        return QFile::link(u"/dev/zero"_qs, path);
    if (how == u"missing")
        return true;
    if (how == u"link")
        return plant(path + u".target"_qs, u"mode"_qs, bytes, mode) && QFile::link(path + u".target"_qs, path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    if (how.startsWith(u"mode "))
        mode = mode_t(how.mid(5).toUInt(nullptr, 8));
    if (::chmod(name.constData(), mode) != 0)
        return false;
    const passwd* nobody = ::getpwnam("nobody");
    return how != u"nobody" || (nobody && ::chown(name.constData(), nobody->pw_uid, nobody->pw_gid) == 0);
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

    // Each trusted file, planted in each way: used, or refused with the reason given (and then never
    // believed: a refused policy requires signatures and trusts nothing it holds).
    void trustedFilesStrictModes_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("problem"); // part of the reason; empty: used
        const QString open = u"other users may read or change it"_qs;
        const QString writable = u"group or other users may change it"_qs;
        const QString notRegular = u"not a regular file"_qs;
        for (const char* key : {"signing.key", "workstation.key"}) {
            const QString file = QString::fromLatin1(key);
            QTest::addRow("%s 0600", key) << file << u"mode 600"_qs << QString();
            QTest::addRow("%s 0640", key) << file << u"mode 640"_qs << open;
            QTest::addRow("%s 0604", key) << file << u"mode 604"_qs << open;
            QTest::addRow("%s 0620", key) << file << u"mode 620"_qs << open;
            QTest::addRow("%s of user nobody", key) << file << u"nobody"_qs << u"owned by nobody"_qs;
            QTest::addRow("%s a FIFO", key) << file << u"fifo"_qs << notRegular;
            QTest::addRow("%s a link to /dev/zero", key) << file << u"device"_qs << notRegular;
            QTest::addRow("%s a link to a good key", key) << file << u"link"_qs << QString();
        }
        QTest::newRow("workstation.key missing: made") << u"workstation.key"_qs << u"missing"_qs << QString();
        for (const char* conf : {"client.conf", "trusted-keys/office.pub"}) {
            const QString file = QString::fromLatin1(conf);
            QTest::addRow("%s 0644", conf) << file << u"mode 644"_qs << QString();
            QTest::addRow("%s 0664", conf) << file << u"mode 664"_qs << writable;
            QTest::addRow("%s 0666", conf) << file << u"mode 666"_qs << writable;
            QTest::addRow("%s of user nobody", conf) << file << u"nobody"_qs << u", not by root"_qs;
            QTest::addRow("%s a FIFO", conf) << file << u"fifo"_qs << notRegular;
            QTest::addRow("%s a link to /dev/zero", conf) << file << u"device"_qs << notRegular;
        }
        QTest::newRow("trusted-keys 0777") << u"trusted-keys"_qs << u"mode 777"_qs << writable;
        QTest::newRow("trusted-keys 0775") << u"trusted-keys"_qs << u"mode 775"_qs << writable;
        QTest::newRow("trusted-keys of user nobody") << u"trusted-keys"_qs << u"nobody"_qs << u", not by root"_qs;
        QTest::newRow("trusted-keys 0755") << u"trusted-keys"_qs << u"mode 755"_qs << QString();
        // The key generator: both files new, whatever the umask; never through a link left in their place.
        QTest::newRow("generate, umask 000") << u"generate"_qs << u"umask 000"_qs << QString();
        QTest::newRow("generate, umask 077") << u"generate"_qs << u"umask 077"_qs << QString();
        QTest::newRow("generate, signing.pub a dangling link")
            << u"generate"_qs << u"link signing.pub"_qs << u"already exists"_qs;
        // The same link planted after that check: the file is created new or not at all.
        QTest::newRow("create through a dangling link")
            << u"generate"_qs << u"create signing.pub"_qs << u"File exists"_qs;
        QTest::newRow("generate, signing.key a FIFO")
            << u"generate"_qs << u"fifo signing.key"_qs << u"already exists"_qs;
    }
    void trustedFilesStrictModes() {
        QFETCH(QString, file);
        QFETCH(QString, how);
        QFETCH(QString, problem);
        if ((how == u"nobody" || file != u"generate") && ::geteuid() != 0 && !file.endsWith(u".key"))
            QSKIP("files owned by root need root");
        if (how == u"nobody" && ::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                      QFile::ExeOther));
        const QString path = dir.filePath(file);
        const SigningKey key = *SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x07'));
        QString seen; // the reason the loader gave, empty when it used the file

        if (file.endsWith(u".key")) {
            QVERIFY(plant(path, how, secretKeyLine(key) + '\n', 0600));
            if (file == u"signing.key") {
                const SigningKeyFile loaded = loadSigningKey(dir.path());
                QCOMPARE(loaded.state == SigningKeyFile::State::Ready, problem.isEmpty());
                seen = loaded.problem;
            } else {
                const WorkstationKey loaded = loadWorkstationKey(dir.path(), true);
                QCOMPARE(bool(loaded.key), problem.isEmpty());
                seen = loaded.problem ? loaded.problem->reason : QString();
                QCOMPARE(loaded.made, how == u"missing");
                if (loaded.made)
                    QCOMPARE(QFileInfo(path).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
            }
        } else if (file != u"generate") {
            QVERIFY(QDir().mkpath(dir.filePath(u"trusted-keys"_qs)));
            const QByteArray pub = publicKeyLine(key.publicKey()) + '\n';
            if (file == u"trusted-keys") {
                QVERIFY(plant(dir.filePath(u"trusted-keys/office.pub"_qs), u"mode 644"_qs, pub, 0644));
                QVERIFY(::chmod(QFile::encodeName(path).constData(),
                                how.startsWith(u"mode ") ? mode_t(how.mid(5).toUInt(nullptr, 8)) : 0755) == 0);
                if (how == u"nobody")
                    QVERIFY(::chown(QFile::encodeName(path).constData(), ::getpwnam("nobody")->pw_uid, 0) == 0);
            } else {
                QVERIFY(plant(path, how, file == u"client.conf" ? "require-signature = no\n" : pub, 0644));
                if (file == u"client.conf")
                    QVERIFY(plant(dir.filePath(u"trusted-keys/office.pub"_qs), u"mode 644"_qs, pub, 0644));
            }
            const ClientPolicy policy = loadClientPolicy(dir.path());
            // Refused: nothing in it believed, and a refused policy or folder requires signatures.
            QCOMPARE(policy.trustedKeys.size(), problem.isEmpty() || file == u"client.conf" ? 1 : 0);
            QCOMPARE(policy.requireSignature, !problem.isEmpty() && file != u"trusted-keys/office.pub");
            if (problem.isEmpty())
                QCOMPARE(policy.trustedKeyNames, QStringList{u"office"_qs});
            seen = policy.problems.isEmpty() ? QString() : policy.problems.first().reason;
        } else {
            const QStringList parts = how.split(u' ');
            const QString target = dir.filePath(u"planted-target"_qs);
            if (parts[0] == u"link")
                QVERIFY(QFile::link(target, dir.filePath(parts[1])));
            if (parts[0] == u"fifo")
                QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(parts[1])).constData(), 0600) == 0);
            if (parts[0] == u"create")
                QVERIFY(QFile::link(target, dir.filePath(parts[1])));
            const mode_t before = parts[0] == u"umask" ? ::umask(mode_t(parts[1].toUInt(nullptr, 8))) : ::umask(022);
            KeyGeneration made;
            if (parts[0] == u"create")
                made.ok = createGuardedFile(dir.filePath(parts[1]), "x", true, &made.error);
            else
                made = generateSigningKey(dir.path(), u"ADMIN-PC"_qs);
            ::umask(before);
            seen = made.error;
            QCOMPARE(made.ok, problem.isEmpty());
            QVERIFY(!QFileInfo::exists(target)); // nothing written through the link
            if (made.ok) {
                QCOMPARE(QFileInfo(made.secretKeyPath).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
                QCOMPARE(QFileInfo(made.publicKeyPath).permissions() & 0x7077,
                         QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
                QCOMPARE(loadSigningKey(dir.path()).state, SigningKeyFile::State::Ready);
            } else if (parts[0] == u"link") {
                QVERIFY(!QFileInfo::exists(dir.filePath(u"signing.key"_qs)));
            }
        }
        QVERIFY2(problem.isEmpty() ? seen.isEmpty() : seen.contains(problem), qPrintable(seen));
    }
};

QTEST_APPLESS_MAIN(TestHostileFiles)
#include "tst_hostile_files.moc"
