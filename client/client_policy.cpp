#include "client_policy.h"

#include <QDir>
#include <QFile>

namespace plinket {

namespace {

std::optional<bool> readYesNo(const QString& value) {
    const QString v = value.toLower();
    if (v == u"yes" || v == u"true" || v == u"on" || v == u"1")
        return true;
    if (v == u"no" || v == u"false" || v == u"off" || v == u"0")
        return false;
    return std::nullopt;
}

void readSettings(const QString& path, ClientPolicy& policy) {
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        policy.requireSignature = true;
        policy.problems.append(path + u": cannot be read ("_qs + file.errorString() + u"); signatures are required"_qs);
        return;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        const QString where = path + u": line "_qs + QString::number(i + 1) + u": "_qs;
        const qsizetype eq = line.indexOf(u'=');
        const QString name = line.left(eq).trimmed().toLower();
        const QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
        if (name == u"require-signature") {
            const std::optional<bool> yes = readYesNo(value);
            policy.requireSignature = yes.value_or(true);
            if (!yes)
                policy.problems.append(where + u"\""_qs + value + u"\" is neither yes nor no; taken as yes"_qs);
        } else if (name == u"max-message-age") {
            bool ok = false;
            const qint64 seconds = value.toLongLong(&ok);
            if (ok && seconds >= 1 && seconds <= LONGEST_MAX_MESSAGE_AGE_SECONDS) {
                policy.maxMessageAgeSeconds = seconds;
            } else {
                policy.problems.append(where + u"max-message-age must be 1 to 86400 seconds; 600 is used"_qs);
            }
        } else if (name == u"hold-time") {
            bool ok = false;
            const qint64 seconds = value.toLongLong(&ok);
            if (ok && seconds >= 1 && seconds <= LONGEST_MAX_MESSAGE_AGE_SECONDS)
                policy.holdSeconds = seconds;
            else
                policy.problems.append(where + u"hold-time must be 1 to 86400 seconds; 600 is used"_qs);
        } else {
            // A misspelt requirement must not pass unnoticed, nor leave the workstation open.
            policy.requireSignature = true;
            policy.problems.append(where + u"unknown setting \""_qs + line + u"\"; signatures are required"_qs);
        }
    }
}

void readTrustedKeys(const QString& folder, ClientPolicy& policy) {
    const QDir dir(folder);
    for (const QString& name : dir.entryList({u"*.pub"_qs}, QDir::Files | QDir::Hidden, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            policy.problems.append(file.fileName() + u": cannot be read ("_qs + file.errorString() + u')');
            continue;
        }
        QStringList problems;
        const QList<PublicKey> keys = readPublicKeys(file.read(64 * 1024), &problems);
        for (const QString& problem : std::as_const(problems))
            policy.problems.append(file.fileName() + u": "_qs + problem);
        for (const PublicKey& key : keys)
            if (!policy.trustedKeys.contains(key))
                policy.trustedKeys.append(key);
    }
}

} // namespace

ClientPolicy loadClientPolicy(const QString& directory) {
    ClientPolicy policy;
    readSettings(QDir(directory).filePath(u"client.conf"_qs), policy);
    readTrustedKeys(QDir(directory).filePath(u"trusted-keys"_qs), policy);
    return policy;
}

} // namespace plinket
