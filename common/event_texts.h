#pragma once

// The texts of every event both programs write, in English and Russian. This one table feeds the
// journal's MESSAGE field, the journal message catalog and the Windows message table.

#include <QString>

#include <span>

namespace plinket {

enum class EventSource { Client, Server };

struct EventText {
    EventSource source;
    int id;
    const char* messageId; // 128-bit journal message id, 32 hex digits, fixed per source and event
    const char16_t* english;
    const char16_t* russian;
};

inline constexpr int EVENT_CLIENT_STARTED = 100;
inline constexpr int EVENT_CLIENT_RECEIVED = 101;
inline constexpr int EVENT_CLIENT_CONFIRMED = 102;
inline constexpr int EVENT_CLIENT_SESSION_END = 103;
inline constexpr int EVENT_CLIENT_UPDATE = 104;     // in the message file only; never written
inline constexpr int EVENT_CLIENT_NOT_ON_TOP = 105; // at start-up, on a desktop that cannot keep pop-ups on top
inline constexpr int EVENT_SERVER_DELIVERY_CLOSED = 101;

inline constexpr auto CLIENT_VERSION = u"1.40";

QString eventSourceName(EventSource source); // "Plinket Client" / "Plinket Server"

std::span<const EventText> eventTexts();
const EventText* findEventText(EventSource source, int id);

// Fills %1..%3 with the insertion strings and turns %r into a line break, in one pass, so text
// inside an insertion string is never substituted again.
QString formatEventText(const QString& pattern, const QString& s1, const QString& s2, const QString& s3,
                        const QString& lineBreak = QStringLiteral("\n"));

// The journal message catalog (both languages), as installed beside the programs.
QString journalCatalog();

// The message-compiler source of one program's Windows message table (English 1033, Russian 1049).
QString windowsMessageFile(EventSource source);

} // namespace plinket
