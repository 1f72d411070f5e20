#include "client_policy.h"

#include "guarded_file.h"

#include <QDir>
#include <QFileInfo>

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
    const GuardedRead file = readGuardedFile(path, FileGuard::Administrator);
    if (file.status == GuardedRead::Status::Missing)
        return;
    if (file.status == GuardedRead::Status::Refused) {
        policy.requireSignature = true;
        policy.problems.append({path, file.problem + u"; signatures are required"_qs});
        return;
    }
    const QStringList lines = QString::fromUtf8(file.bytes).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        const QString where = u"line "_qs + QString::number(i + 1) + u": "_qs;
        const qsizetype eq = line.indexOf(u'=');
        const QString name = line.left(eq).trimmed().toLower();
        const QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
        if (name == u"require-signature") {
            const std::optional<bool> yes = readYesNo(value);
            policy.requireSignature = yes.value_or(true);
            if (!yes)
                policy.problems.append({path, where + u"\""_qs + value + u"\" is neither yes nor no; taken as yes"_qs});
        } else if (name == u"max-message-age") {
            bool ok = false;
            const qint64 seconds = value.toLongLong(&ok);
            if (ok && seconds >= 1 && seconds <= LONGEST_MAX_MESSAGE_AGE_SECONDS) {
                policy.maxMessageAgeSeconds = seconds;
            } else {
                policy.problems.append({path, where + u"max-message-age must be 1 to 86400 seconds; 600 is used"_qs});
            }
        } else if (name == u"hold-time") {
            bool ok = false;
            const qint64 seconds = value.toLongLong(&ok);
            if (ok && seconds >= 1 && seconds <= LONGEST_MAX_MESSAGE_AGE_SECONDS)
                policy.holdSeconds = seconds;
            else
                policy.problems.append({path, where + u"hold-time must be 1 to 86400 seconds; 600 is used"_qs});
        } else {
            // A misspelt requirement must not pass unnoticed, nor leave the workstation open.
            policy.requireSignature = true;
            policy.problems.append({path, where + u"unknown setting \""_qs + line + u"\"; signatures are required"_qs});
        }
    }
}

void readTrustedKeys(const QString& folder, ClientPolicy& policy) {
    bool exists = false;
    if (const QString problem = guardedFolderProblem(folder, &exists); !problem.isEmpty()) {
        // Anyone who can add a file here could add a key: none is trusted, and nothing unsigned shown.
        policy.requireSignature = true;
        policy.problems.append({folder, problem + u"; no key in it is trusted and signatures are required"_qs});
        return;
    }
    if (!exists)
        return;
    const QDir dir(folder);
    // Special files (a FIFO, a device) are listed too, to be refused rather than passed over unsaid.
    for (const QString& name : dir.entryList({u"*.pub"_qs}, QDir::Files | QDir::System | QDir::Hidden, QDir::Name)) {
        const QString path = dir.filePath(name);
        const GuardedRead file = readGuardedFile(path, FileGuard::Administrator);
        if (file.status != GuardedRead::Status::Read) {
            if (file.status == GuardedRead::Status::Refused)
                policy.problems.append({path, file.problem + u"; its keys are not trusted"_qs});
            continue;
        }
        QStringList problems, names;
        const QList<PublicKey> keys = readPublicKeys(file.bytes, &problems, &names);
        for (const QString& problem : std::as_const(problems))
            policy.problems.append({path, problem});
        for (qsizetype i = 0; i < keys.size(); ++i) {
            if (policy.trustedKeys.contains(keys[i]))
                continue;
            policy.trustedKeys.append(keys[i]);
            policy.trustedKeyNames.append(names[i].isEmpty() ? name.chopped(4) : names[i]);
        }
    }
}

QByteArray workstationKeyText(const SigningKey& key) {
    return "# Plinket workstation report key " + key.keyId() +
           ". SECRET: whoever can read this file can sign reports\n"
           "# in this workstation's name. Its public half, for the console's known-workstations file:\n"
           "# " +
           publicKeyLine(key.publicKey()) + "\n" + secretKeyLine(key) + '\n';
}

} // namespace

ClientPolicy loadClientPolicy(const QString& directory) {
    return combinedPolicy(loadClientSettings(directory), loadTrustedKeys(directory));
}

ClientPolicy loadClientSettings(const QString& directory) {
    ClientPolicy policy;
    readSettings(QDir(directory).filePath(u"client.conf"_qs), policy);
    return policy;
}

ClientPolicy loadTrustedKeys(const QString& directory) {
    ClientPolicy policy;
    readTrustedKeys(QDir(directory).filePath(u"trusted-keys"_qs), policy);
    return policy;
}

ClientPolicy combinedPolicy(const ClientPolicy& settings, const ClientPolicy& keys) {
    ClientPolicy policy = settings;
    policy.trustedKeys = keys.trustedKeys;
    policy.trustedKeyNames = keys.trustedKeyNames;
    policy.requireSignature = settings.requireSignature || keys.requireSignature;
    policy.problems += keys.problems;
    return policy;
}

QString describePolicyChange(const ClientPolicy& before, const ClientPolicy& after) {
    QStringList changes;
    const auto yesNo = [](bool yes) { return yes ? u"yes"_qs : u"no"_qs; };
    if (before.requireSignature != after.requireSignature)
        changes.append(u"require-signature "_qs + yesNo(before.requireSignature) + u" -> "_qs +
                       yesNo(after.requireSignature));
    const auto seconds = [&changes](const char16_t* name, qint64 from, qint64 to) {
        if (from != to)
            changes.append(QString::fromUtf16(name) + u' ' + QString::number(from) + u" -> "_qs + QString::number(to));
    };
    seconds(u"max-message-age", before.maxMessageAgeSeconds, after.maxMessageAgeSeconds);
    seconds(u"hold-time", before.holdSeconds, after.holdSeconds);
    qsizetype added = 0, renamed = 0;
    for (qsizetype i = 0; i < after.trustedKeys.size(); ++i) {
        const qsizetype was = before.trustedKeys.indexOf(after.trustedKeys[i]);
        if (was < 0)
            ++added;
        else if (before.trustedKeyNames.value(was) != after.trustedKeyNames.value(i))
            ++renamed;
    }
    const qsizetype removed = before.trustedKeys.size() - (after.trustedKeys.size() - added);
    if (added > 0 || removed > 0) {
        QString keys = u"trusted keys: "_qs + QString::number(before.trustedKeys.size()) + u" -> "_qs +
                       QString::number(after.trustedKeys.size());
        if (added > 0 && removed > 0) // the count alone would hide a replaced key
            keys += u" ("_qs + QString::number(added) + u" added, "_qs + QString::number(removed) + u" removed)"_qs;
        changes.append(keys);
    }
    if (renamed > 0)
        changes.append(u"signer names: "_qs + QString::number(renamed) + u" changed"_qs);
    return changes.join(u"; "_qs);
}

WorkstationKey loadWorkstationKey(const QString& directory, bool make) {
    WorkstationKey result;
    const QString path = QDir(directory).filePath(QString::fromUtf16(WORKSTATION_KEY_FILE_NAME));
    GuardedRead file = readGuardedFile(path, FileGuard::Private, 4096);
    if (file.status == GuardedRead::Status::Refused) {
        result.problem = PolicyProblem{path, file.problem + u"; reports are not signed"_qs};
        return result;
    }
    if (file.status == GuardedRead::Status::Read) {
        std::optional<SigningKey> key = readSecretKey(file.bytes);
        file.bytes.fill('\0');
        if (key)
            result.key = std::make_shared<const SigningKey>(*key);
        else
            result.problem = PolicyProblem{path, u"holds no secret key; reports are not signed"_qs};
        return result;
    }
    // Missing: made only where this user may create files (an administrator, or the network side's own user).
    if (!make || !QFileInfo(directory).isDir() || !QFileInfo(directory).isWritable())
        return result;
    const std::optional<SigningKey> key = SigningKey::generate();
    QString error;
    QByteArray text = key ? workstationKeyText(*key) : QByteArray();
    if (!key || !createGuardedFile(path, text, false, &error)) {
        result.problem = PolicyProblem{path, u"cannot be made ("_qs + (key ? error : u"no random numbers"_qs) +
                                                 u"); reports are not signed"_qs};
    } else {
        result.key = std::make_shared<const SigningKey>(*key);
        result.made = true;
    }
    text.fill('\0');
    return result;
}

} // namespace plinket
