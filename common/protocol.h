#pragma once

// The datagram protocol between the console and the clients: two kinds of UDP datagram,
// each four UTF-8 text fields joined by one separator character, no escaping.

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QString>

#include <array>
#include <cstdint>

namespace plinket {

inline constexpr quint16 MESSAGE_PORT = 47127;
inline constexpr quint16 REPORT_PORT = 47128;
inline constexpr char16_t FIELD_SEPARATOR = u'\x0004';
inline constexpr qint64 MESSAGE_ID_EPOCH = 1376357000;

// Largest datagram either program accepts; a longer one is dropped whole.
inline constexpr int RECEIVE_BUFFER_SIZE = 2048;
// The client uses at most this many bytes of a message datagram.
inline constexpr int CLIENT_PAYLOAD_LIMIT = 2000;
// The console reads at most this many bytes of a report (bounded by the buffer in practice).
inline constexpr int SERVER_PAYLOAD_LIMIT = 2100;

inline constexpr int REPORT_STATUS_RECEIVED = 1;
inline constexpr int REPORT_STATUS_CONFIRMED = 2;

using Fields = std::array<QString, 4>;

QString formatMessageDatagram(const QString& lang, const QString& id, const QString& text, const QString& serverHost);
QString formatReportDatagram(const QString& id, int status, const QString& host, const QString& fqdn);

// Field N is the text between separator N-1 and separator N; missing fields are empty and
// anything after the fourth field is ignored.
Fields splitFields(const QString& payloadText);

// Decodes at most `limit` bytes as UTF-8, stopping at the first NUL byte. An incomplete
// sequence at the cut decodes to the replacement character, never to its original letter.
QString decodePayload(const QByteArray& bytes, int limit);

// Seconds from 1970 to the given wall-clock time read as if it had no time zone, minus the epoch,
// kept as a signed 32-bit value: how ids were once made. Such ids are guessable, so nothing sends them now.
qint32 makeMessageId(const QDateTime& localDateTime);

// The largest message id; ids are 1 to MAX_MESSAGE_ID, positive decimal text as always.
inline constexpr qint32 MAX_MESSAGE_ID = 0x7FFFFFFF;
// A message id drawn from the system's cryptographic random source: uniform over 1..MAX_MESSAGE_ID, so a
// host that cannot see the message cannot guess the id its reports must carry. Never 0 (the id of records
// no send reached).
qint32 randomMessageId();

// Leading blanks and tabs, an optional sign, then digits: hexadecimal after "$", binary after "%",
// decimal otherwise; stops at the first other character. No digits give 0.
qint64 parseInteger(const QString& fieldText);

// The four octets of an IPv4 address as decimal numbers joined by dots.
QString dottedAddress(const QHostAddress& address);

struct MessageDatagram {
    QString lang;
    QString id;
    QString text;
    QString serverHost;
};

// Client side: the first 2000 bytes of a received datagram, split into the message fields.
MessageDatagram readMessageDatagram(const QByteArray& datagram);

struct ReportDatagram {
    QString senderAddress;  // dotted decimal source address of the datagram
    quint32 senderIPv4 = 0; // the same address as a number (0 when it is not IPv4)
    qint32 id = 0;          // low 32 bits of the parsed ID field
    quint8 status = 0;      // low 8 bits of the parsed STATUS field
    QString host;           // "LOCALHOST" when the report came from 127.0.0.1
    QString fqdn;
};

// Console side: reads one report received from `source`.
ReportDatagram readReportDatagram(const QHostAddress& source, const QByteArray& datagram);

} // namespace plinket
