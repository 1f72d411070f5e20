#include "send_inputs.h"

#include "ini_document.h"
#include "language.h"
#include "settings.h"

#include <QSet>

namespace plinket {

namespace {

constexpr int MAX_TEXT_CHARACTERS = 1000;

// The records of `name`: exact matches, else those equal when letter case is ignored.
QList<int> recordsNamed(const RecipientList& list, int end, const QString& name) {
    QList<int> found;
    for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
        for (int i = 1; i < end; ++i)
            if (QString::compare(list.at(i).name, name, cs) == 0)
                found.append(i);
        if (!found.isEmpty())
            break;
    }
    return found;
}

} // namespace

ConsoleConfig readConsoleConfig(const QString& workingDirectory) {
    ConsoleConfig config;
    QString storedClients = ServerSettings().clientsPath;
    IniDocument doc;
    if (doc.open(settingsFilePath(workingDirectory))) {
        doc.selectGroup(u"Common"_qs);
        const QString language = doc.readString(u"Language"_qs, u"RU"_qs);
        if (language == u"RU"_qs || language == u"EN"_qs)
            config.language = language;
        else
            config.warning = u"config.ini: Language \""_qs + language + u"\" is neither RU nor EN; using RU"_qs;
        doc.selectGroup(u"Paths"_qs);
        storedClients = doc.readString(u"Clients"_qs, storedClients);
        doc.close();
    } else {
        config.language = languageOfLocale(qEnvironmentVariable("LC_ALL"), qEnvironmentVariable("LC_MESSAGES"),
                                           qEnvironmentVariable("LANG"));
    }
    config.clientsPath = localFilePath(storedClients, workingDirectory);
    return config;
}

QString messageTextFrom(const QString& raw) {
    QString text;
    text.reserve(raw.size() + raw.size() / 16);
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == u'\r' || raw[i] == u'\n') {
            if (raw[i] == u'\r' && i + 1 < raw.size() && raw[i + 1] == u'\n')
                ++i;
            text += u"\r\n"_qs;
        } else {
            text += raw[i];
        }
    }
    while (text.endsWith(u"\r\n"_qs))
        text.chop(2);
    return text;
}

QString messageTextProblem(const QString& text) {
    if (text.isEmpty())
        return u"the message text is empty"_qs;
    if (text.size() > MAX_TEXT_CHARACTERS)
        return QStringLiteral("the message has %1 characters; the console sends at most %2")
            .arg(text.size())
            .arg(MAX_TEXT_CHARACTERS);
    if (text.contains(QChar(0x0004)))
        return u"the message contains the character U+0004, which separates the fields of a datagram"_qs;
    if (text.contains(QChar(0)))
        return u"the message contains a NUL character, where a client would stop reading"_qs;
    return {};
}

RecipientChoice chooseRecipients(const RecipientList& directory, const SendOptions& options) {
    std::vector<RecipientRecord> records = directory.records();
    for (RecipientRecord& r : records) {
        r.checkState = CHECK_UNCHECKED;
        r.messageId = 0;
        r.deliveryStatus = STATUS_WAITING;
        r.reportTime.clear();
    }
    if (records.empty()) {
        RecipientRecord root;
        root.name = QString::fromLatin1(ROOT_RECORD_NAME);
        root.isGroup = 1;
        records.push_back(root);
    }
    const int directoryEnd = int(records.size());
    QSet<QString> seenHosts;
    for (const QString& host : options.hosts) {
        const QString upper = host.trimmed().toUpper();
        if (seenHosts.contains(upper))
            continue;
        seenHosts.insert(upper);
        RecipientRecord r;
        r.name = host.trimmed();
        r.host = upper;
        r.parentIndex = 0;
        r.level = 1;
        records.push_back(r);
    }

    RecipientChoice choice;
    choice.list = RecipientList(std::move(records));
    RecipientList& list = choice.list;
    if (options.all || !options.broadcastAddress.isEmpty())
        list.applyCheck(0, CHECK_CHECKED);
    for (const QString& name : options.names) {
        const QList<int> found = recordsNamed(list, directoryEnd, name);
        if (found.isEmpty())
            choice.unknownNames.append(name);
        for (const int i : found)
            list.applyCheck(i, CHECK_CHECKED);
    }
    for (int i = directoryEnd; i < list.size(); ++i)
        list.applyCheck(i, CHECK_CHECKED);
    for (int i = 0; i < list.size(); ++i)
        choice.clients += !list.at(i).isGroup && list.at(i).checkState == CHECK_CHECKED;
    return choice;
}

} // namespace plinket
