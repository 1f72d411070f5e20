#include "signing_key_file.h"

#include "guarded_file.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace plinket {

SigningKeyFile loadSigningKey(const QString& directory) {
    SigningKeyFile result;
    result.path = QDir(directory).filePath(QString::fromUtf16(SIGNING_KEY_FILE_NAME));
    // Checked before reading: a key that others could read may be known to them, so it is never used.
    GuardedRead file = readGuardedFile(result.path, FileGuard::Private, 4096);
    switch (file.status) {
    case GuardedRead::Status::Missing:
        return result;
    case GuardedRead::Status::Refused:
        result.state = SigningKeyFile::State::Refused;
        result.problem = file.problem;
        return result;
    case GuardedRead::Status::Read:
        break;
    }
    std::optional<SigningKey> key = readSecretKey(file.bytes);
    file.bytes.fill('\0');
    if (!key) {
        result.state = SigningKeyFile::State::Damaged;
        return result;
    }
    result.state = SigningKeyFile::State::Ready;
    result.key = std::make_shared<const SigningKey>(*key);
    return result;
}

KeyGeneration generateSigningKey(const QString& directory, const QString& consoleName) {
    KeyGeneration result;
    const QDir dir(directory);
    result.secretKeyPath = dir.filePath(QString::fromUtf16(SIGNING_KEY_FILE_NAME));
    result.publicKeyPath = dir.filePath(QString::fromUtf16(PUBLIC_KEY_FILE_NAME));
    for (const QString& path : {result.secretKeyPath, result.publicKeyPath}) {
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
            result.error = path + u" already exists. Workstations may trust the key it belongs to; move both key "
                                  u"files away first if you really want a new key."_qs;
            return result;
        }
    }
    const std::optional<SigningKey> key = SigningKey::generate();
    if (!key) {
        result.error = u"This system gives no random numbers to make a key from."_qs;
        return result;
    }
    result.keyId = key->keyId();
    const QByteArray id = result.keyId;
    QByteArray secret = "# Plinket console signing key " + id +
                        ". SECRET: whoever can read this file can put pop-ups on\n"
                        "# every workstation that trusts the key. Keep it readable by its owner only.\n" +
                        secretKeyLine(*key) + '\n';
    const QByteArray made = QDateTime::currentDateTimeUtc().toString(u"yyyy-MM-dd HH:mm:ss"_qs).toUtf8();
    const QByteArray pub = "# Plinket console public key " + id + ", made on " + consoleName.toUtf8() + " at " + made +
                           " UTC.\n"
                           "# Copy this file into /etc/plinket/trusted-keys/ on every workstation\n"
                           "# (Windows: %ProgramData%\\Plinket\\trusted-keys\\).\n" +
                           publicKeyLine(key->publicKey()) + '\n';
    QString error;
    const bool secretWritten = createGuardedFile(result.secretKeyPath, secret, false, &error);
    secret.fill('\0');
    if (!secretWritten) {
        result.error = u"Cannot write "_qs + result.secretKeyPath + u": "_qs + error;
        return result;
    }
    if (!createGuardedFile(result.publicKeyPath, pub, true, &error)) {
        QFile::remove(result.secretKeyPath); // a secret key without its public half helps nobody
        result.error = u"Cannot write "_qs + result.publicKeyPath + u": "_qs + error;
        return result;
    }
    result.ok = true;
    return result;
}

QString keyGenerationReport(const KeyGeneration& result) {
    if (!result.ok)
        return u"plinket_server: "_qs + result.error + u'\n';
    return u"Signing key "_qs + QString::fromLatin1(result.keyId) + u" made.\n"_qs + u"  secret key: "_qs +
           result.secretKeyPath + u" (readable by you only; keep it so)\n"_qs + u"  public key: "_qs +
           result.publicKeyPath +
           u"\nCopy the public key into /etc/plinket/trusted-keys/ on every workstation. The console signs every "
           u"message from its next start.\n"_qs;
}

} // namespace plinket
