#include "eventlog.h"

#include <QByteArray>

// Only the fields listed below: no CODE_FILE / CODE_LINE / CODE_FUNC of our own source.
#define SD_JOURNAL_SUPPRESS_LOCATION 1
#include <sys/uio.h>
#include <systemd/sd-journal.h>

namespace plinket {

bool registerEventSource(EventSource) {
    return true;
}

void reportEvent(EventSource source, int eventType, int eventId, const QString& s1, const QString& s2,
                 const QString& s3, const EventFields& extra) {
    (void)eventType; // every event of both programs is an information event: journal priority 6
    const EventText* text = findEventText(source, eventId);
    // MESSAGE (and the catalog's text, from the SHOWN fields) shows control and direction characters
    // escaped; the PLINKET_STRING fields keep every byte.
    const QString pattern = text ? QString::fromUtf16(text->english) : QString();
    const std::array<QString, 3> shown = shownEventStrings(pattern, s1, s2, s3);
    const QString message = text ? formatEventText(pattern, shown[0], shown[1], shown[2])
                                 : escapeEventString(s1 + u'\n' + s2 + u'\n' + s3, true);

    // Each field is "NAME=value"; sd_journal_sendv handles values with line breaks itself.
    QList<QByteArray> fields = {
        "MESSAGE=" + message.toUtf8(),
        QByteArray("MESSAGE_ID=") + (text ? text->messageId : ""),
        QByteArray("PRIORITY=6"),
        "SYSLOG_IDENTIFIER=" + eventSourceName(source).toUtf8(),
        "PLINKET_EVENT_ID=" + QByteArray::number(eventId),
        QByteArray(JOURNAL_STRING_FIELDS[0]) + '=' + s1.toUtf8(),
        QByteArray(JOURNAL_STRING_FIELDS[1]) + '=' + s2.toUtf8(),
        QByteArray(JOURNAL_STRING_FIELDS[2]) + '=' + s3.toUtf8(),
        QByteArray(JOURNAL_SHOWN_FIELDS[0]) + '=' + shown[0].toUtf8(),
        QByteArray(JOURNAL_SHOWN_FIELDS[1]) + '=' + shown[1].toUtf8(),
        QByteArray(JOURNAL_SHOWN_FIELDS[2]) + '=' + shown[2].toUtf8(),
    };
    for (const auto& [name, value] : extra)
        fields.append(name + '=' + value.toUtf8());
    QList<iovec> iov(fields.size());
    int count = 0;
    for (const QByteArray& f : fields) {
        if (f == "MESSAGE_ID=")
            continue;
        iov[count].iov_base = const_cast<char*>(f.constData());
        iov[count].iov_len = static_cast<size_t>(f.size());
        ++count;
    }
    // A missing or stopped journal makes this fail; events are then lost without a word.
    (void)sd_journal_sendv(iov.data(), count);
}

} // namespace plinket
