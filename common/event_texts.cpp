#include "event_texts.h"

#include <QStringBuilder>

namespace plinket {

namespace {

constexpr const char16_t* KEY_CHANGED_EN =
    u"The report key of workstation %1 (%2) is not the one known for it: %3. Its reports are shown as not "
    u"verified. If the workstation was set up anew, remove its line from known-workstations to accept the new key.";
constexpr const char16_t* KEY_CHANGED_RU =
    u"Ключ отчётов рабочей станции %1 (%2) не совпадает с известным для неё: %3. Её отчёты показываются как "
    u"непроверенные. Если станцию переустановили, удалите её строку из known-workstations, чтобы принять новый ключ.";

constexpr EventText TEXTS[] = {
    {EventSource::Client, 100, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a64", u"Version %1 is launched.", u"Версия %1 запущена."},
    {EventSource::Client, 101, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a65",
     u"Sender: %1%rMessage ID: %2%rStatus: Received%rText:%r%3",
     u"Отправитель: %1%rID сообщения: %2%rСтатус: Получено%rТекст:%r%3"},
    {EventSource::Client, 102, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a66",
     u"Sender: %1%rMessage ID: %2%rStatus: Confirmed%rText:%r%3",
     u"Отправитель: %1%rID сообщения: %2%rСтатус: Подтверждено%rТекст:%r%3"},
    {EventSource::Client, 103, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a67", u"System shutdown signal was received. Terminating.",
     u"Получен сигнал завершения работы системы. Конец работы программы."},
    {EventSource::Client, 104, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a68",
     u"Update from %1 to %2 was started. The program is restarting.",
     u"Начато обновление с %1 до %2. Перезапуск программы."},
    {EventSource::Client, 105, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a69",
     u"Pop-ups cannot be kept on top of other windows in this session: without X11 (XWayland) a program can "
     u"neither place its windows nor keep them above others. Messages are still shown and answered.",
     u"В этом сеансе всплывающие окна не могут оставаться поверх других окон: без X11 (XWayland) программа не "
     u"может ни располагать свои окна, ни удерживать их поверх остальных. Сообщения по-прежнему показываются и "
     u"подтверждаются."},
    {EventSource::Client, 106, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a6a", u"Message from %1 was dropped: %2.%rMessage ID: %3",
     u"Сообщение от %1 отброшено: %2.%rID сообщения: %3"},
    {EventSource::Client, 107, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a6b",
     u"Message from %1 is waiting to be seen: %3. It is reported as received once it can be seen.%rMessage ID: %2",
     u"Сообщение от %1 ждёт, пока его увидят: %3. О получении будет сообщено, когда его станет видно.%rID "
     u"сообщения: %2"},
    {EventSource::Client, 108, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a6c", u"Under %2 the pop-up cannot %1.",
     u"Под управлением %2 всплывающее окно не может: %1."},
    {EventSource::Client, 109, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a6d",
     u"%1 events about dropped messages were left out of the journal in the last minute, to keep a flood from "
     u"filling it. They came from %2 senders.",
     u"За последнюю минуту в журнал не записано событий об отброшенных сообщениях: %1, чтобы поток сообщений не "
     u"переполнил журнал. Отправителей: %2."},
    {EventSource::Client, 110, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a6e", u"The file %1 is not used as it stands: %2.",
     u"Файл %1 не используется в нынешнем виде: %2."},
    {EventSource::Client, 111, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a6f",
     u"The settings in %1 were read again and apply from the next message: %2.",
     u"Настройки в %1 прочитаны заново и действуют со следующего сообщения: %2."},
    {EventSource::Client, 112, "b7e3f4a1c9d24e5f8a6b0c1d2e3f4a70",
     u"Sender: %1%rMessage ID: %2%rStatus: Expired unseen%rText:%r%3",
     u"Отправитель: %1%rID сообщения: %2%rСтатус: Истёк срок, не просмотрено%rТекст:%r%3"},
    {EventSource::Server, 101, "4d2a9c7e1b5f4a3c8e6d0f1a2b3c4d65", u"Message ID: %1%rStatus: Sent%rText:%r%2%r%r%3",
     u"ID сообщения: %1%rСтатус: Отправлено%rТекст:%r%2%r%r%3"},
    {EventSource::Server, 102, "4d2a9c7e1b5f4a3c8e6d0f1a2b3c4d66", KEY_CHANGED_EN, KEY_CHANGED_RU},
    {EventSource::Send, 101, "9e61c5d03a8f4b27b4d1e07c5f2a3b65", u"Message ID: %1%rStatus: Sent%rText:%r%2%r%r%3",
     u"ID сообщения: %1%rСтатус: Отправлено%rТекст:%r%2%r%r%3"},
    {EventSource::Send, 102, "9e61c5d03a8f4b27b4d1e07c5f2a3b66", KEY_CHANGED_EN, KEY_CHANGED_RU},
};

} // namespace

QString eventSourceName(EventSource source) {
    switch (source) {
    case EventSource::Client:
        return QStringLiteral("Plinket Client");
    case EventSource::Server:
        return QStringLiteral("Plinket Server");
    case EventSource::Send:
        return QStringLiteral("Plinket Send");
    }
    return {};
}

std::span<const EventText> eventTexts() {
    return TEXTS;
}

const EventText* findEventText(EventSource source, int id) {
    for (const EventText& t : TEXTS) {
        if (t.source == source && t.id == id)
            return &t;
    }
    return nullptr;
}

QString formatEventText(const QString& pattern, const QString& s1, const QString& s2, const QString& s3,
                        const QString& lineBreak) {
    QString out;
    out.reserve(pattern.size() + s1.size() + s2.size() + s3.size());
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%' && i + 1 < pattern.size()) {
            const QChar next = pattern[i + 1];
            const QString* insert = next == u'1' ? &s1 : next == u'2' ? &s2 : next == u'3' ? &s3 : nullptr;
            if (insert) {
                out += *insert;
                ++i;
                continue;
            }
            if (next == u'r') {
                out += lineBreak;
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

QString escapeEventString(const QString& text, bool keepLineBreaks) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7F && u <= 0x9F);
        const bool direction =
            u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
        const bool separator = u == 0x2028 || u == 0x2029;
        const bool kept = keepLineBreaks && (u == u'\r' || u == u'\n' || u == u'\t');
        if ((control || direction || separator) && !kept)
            out += u"\\u"_qs + QStringLiteral("%1").arg(uint(u), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

std::array<QString, 3> shownEventStrings(const QString& pattern, const QString& s1, const QString& s2,
                                         const QString& s3) {
    const auto shown = [&pattern](const QString& s, char16_t digit) {
        const QString marker = u"%r%"_qs + QChar(digit);
        return escapeEventString(s, pattern.contains(marker));
    };
    return {shown(s1, u'1'), shown(s2, u'2'), shown(s3, u'3')};
}

QString journalMessage(const QString& pattern, const QString& s1, const QString& s2, const QString& s3) {
    const std::array<QString, 3> shown = shownEventStrings(pattern, s1, s2, s3);
    return formatEventText(pattern, shown[0], shown[1], shown[2]);
}

QString journalCatalog(EventSource which) {
    // journalctl -x fills @NAME@ from the record's own fields, so the pattern's %n become references
    // to the insertion-string fields and %r a line break.
    const auto reference = [](const char* field) { return QString(u'@' + QLatin1String(field) + u'@'); };
    const QString s1 = reference(JOURNAL_SHOWN_FIELDS[0]);
    const QString s2 = reference(JOURNAL_SHOWN_FIELDS[1]);
    const QString s3 = reference(JOURNAL_SHOWN_FIELDS[2]);
    QString out = u"# " % eventSourceName(which) % u" journal message catalog, generated from the event text table.\n";
    for (const EventText& t : TEXTS) {
        if (t.source != which)
            continue;
        const QString source = eventSourceName(t.source);
        const QString id = QString::number(t.id);
        out += u"\n-- " % QLatin1String(t.messageId) % u'\n' % u"Subject: " % source % u" event " % id % u'\n' %
               u"Defined-By: Plinket\n\n" % formatEventText(QString::fromUtf16(t.english), s1, s2, s3) % u'\n';
        out += u"\n-- " % QLatin1String(t.messageId) % u" ru\n" % u"Subject: " % source % u", событие " % id % u'\n' %
               u"Defined-By: Plinket\n\n" % formatEventText(QString::fromUtf16(t.russian), s1, s2, s3) % u'\n';
    }
    return out;
}

QString windowsMessageFile(EventSource source) {
    // The message compiler ends every entry with CR LF itself; %r, %1..%3 are its own escapes.
    QString out = QStringLiteral("MessageIdTypedef=DWORD\r\n"
                                 "LanguageNames=(English=0x409:MSG00409)\r\n"
                                 "LanguageNames=(Russian=0x419:MSG00419)\r\n");
    for (const EventText& t : TEXTS) {
        if (t.source != source)
            continue;
        out += u"\r\nMessageId=" % QString::number(t.id) % u"\r\nLanguage=English\r\n" % QString::fromUtf16(t.english) %
               u"\r\n.\r\nLanguage=Russian\r\n" % QString::fromUtf16(t.russian) % u"\r\n.\r\n";
    }
    return out;
}

} // namespace plinket
