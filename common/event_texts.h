#pragma once

// The texts of every event both programs write, in English and Russian. This one table feeds the
// journal's MESSAGE field, the journal message catalog and the Windows message table.

#include <QString>

#include <array>
#include <span>

namespace plinket {

// Client and Server are the two programs; Send is plinket_send, the console's command-line sender,
// which records its sends under a source name of its own so scripted sends stand apart in the log.
enum class EventSource { Client, Server, Send };

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
// A message the workstation's signature policy dropped: %1 sender address, %2 reason, %3 message ID.
inline constexpr int EVENT_CLIENT_DROPPED = 106;
// A message that waits to be seen, once per message: %1 sender, %2 message ID, %3 why it cannot be seen yet.
inline constexpr int EVENT_CLIENT_WAITING = 107;
// What the window manager makes impossible for the pop-up, once per run: %1 what, %2 the window manager.
inline constexpr int EVENT_CLIENT_WINDOW_MANAGER_LIMIT = 108;
// Drop events the limit above left out during the last minute: %1 how many, %2 from how many senders.
inline constexpr int EVENT_CLIENT_DROPS_SUMMARY = 109;
// A configuration or key file refused or not used as it stands: %1 path, %2 why.
inline constexpr int EVENT_CLIENT_FILE_REFUSED = 110;
// The policy folder read again while running, and what changed for the next message: %1 folder, %2 changes.
inline constexpr int EVENT_CLIENT_POLICY_CHANGED = 111;
// A message held while nobody could see it, dropped after the hold time: %1 sender, %2 message ID, %3 text.
inline constexpr int EVENT_CLIENT_EXPIRED = 112;
// Structured fields of events 101 and 102 written by the host agent: who saw or confirmed the message.
inline constexpr const char* JOURNAL_USER_FIELD = "PLINKET_USER";
inline constexpr const char* JOURNAL_SESSION_FIELD = "PLINKET_SESSION";
inline constexpr int EVENT_SERVER_DELIVERY_CLOSED = 101;
inline constexpr int EVENT_SEND_DELIVERY_CLOSED = 101; // the console's event 101, written by plinket_send
// A workstation's report key differs from the one pinned for it: %1 host, %2 address, %3 old and new key ids.
// Written by the console and by plinket_send, each under its own source.
inline constexpr int EVENT_REPORT_KEY_CHANGED = 102;

inline constexpr auto CLIENT_VERSION = u"" PLINKET_VERSION; // the project version, "1.40"

// The journal fields that carry the three insertion strings, in order. The catalog fills in @NAME@
// only for field names made of capital letters and "_", so these names must have no digits.
inline constexpr const char* JOURNAL_STRING_FIELDS[3] = {"PLINKET_STRING_ONE", "PLINKET_STRING_TWO",
                                                         "PLINKET_STRING_THREE"};
// The same strings as MESSAGE shows them (escaped, see journalMessage). The catalog fills in these, so
// that `journalctl -x` shows no forged line either.
inline constexpr const char* JOURNAL_SHOWN_FIELDS[3] = {"PLINKET_SHOWN_ONE", "PLINKET_SHOWN_TWO",
                                                        "PLINKET_SHOWN_THREE"};

QString eventSourceName(EventSource source); // "Plinket Client" / "Plinket Server" / "Plinket Send"

std::span<const EventText> eventTexts();
const EventText* findEventText(EventSource source, int id);

// Fills %1..%3 with the insertion strings and turns %r into a line break, in one pass, so text
// inside an insertion string is never substituted again.
QString formatEventText(const QString& pattern, const QString& s1, const QString& s2, const QString& s3,
                        const QString& lineBreak = QStringLiteral("\n"));

// The event's text as the journal's MESSAGE shows it: as formatEventText, with every control character and
// every direction control (U+061C, U+200E/F, U+202A to U+202E, U+2066 to U+2069) and line or paragraph
// separator of an insertion string shown as \uXXXX, so no string can start a line of its own or turn the
// text around. A string that begins a line of the pattern (after %r, as a message text does) keeps its
// line breaks and tabs. The structured fields keep the strings as they are.
QString journalMessage(const QString& pattern, const QString& s1, const QString& s2, const QString& s3);

// One insertion string shown that way.
QString escapeEventString(const QString& text, bool keepLineBreaks);
// The three strings as journalMessage puts them into `pattern`.
std::array<QString, 3> shownEventStrings(const QString& pattern, const QString& s1, const QString& s2,
                                         const QString& s3);

// One program's journal message catalog (both languages), as installed with that program.
QString journalCatalog(EventSource source);

// The message-compiler source of one program's Windows message table (English 1033, Russian 1049).
QString windowsMessageFile(EventSource source);

} // namespace plinket
