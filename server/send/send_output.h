#pragma once

// What plinket_send reports when a send is over: one line per recipient in the console's words
// (the lines of its event 101), or one JSON object, and the exit code.

#include "recipient_list.h"
#include "send_command_line.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace plinket {

// Exit codes.
inline constexpr int EXIT_ALL_REACHED = 0;
inline constexpr int EXIT_SOME_NOT_REACHED = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_NOTHING_SENT = 3;

struct RecipientOutcome {
    QString name;
    QString host;
    quint8 status = STATUS_WAITING;            // as the closed round left it
    QString reportTime;                        // "hh:mm:ss" of the last report, empty when none
    bool sent = false;                         // its datagram left
    bool noAddress = false;                    // its host gave no address, so nothing was sent to it
    ReportTrust trust = ReportTrust::Unsigned; // of the report its state comes from
};

struct SendOutcome {
    qint32 messageId = 0;
    QString text;
    bool waited = true; // false for --wait 0: the states say only whether the datagram left
    qint64 datagramsSent = 0;
    QList<RecipientOutcome> recipients; // every ticked client, in tree order
};

// Whether a recipient with this status counts as reached.
bool reachedState(quint8 status, Requirement require);

// One line per recipient: its name, a TAB, "= " and its state in the console's words in `language`
// ("Confirmed in 14:05:09", "Delivered in ...", "Not delivered"; without waiting "Sent"), then, for a
// signed report, ", verified" or ", NOT verified" (English, whatever the language: scripts read it), each
// line ended by `lineEnd`. `marks` false leaves the marks out (the lines of event 101).
QString statusLines(const SendOutcome& outcome, const QString& language, const QString& lineEnd, bool marks = true);

// {"id": 420195130, "text": "...", "recipients": [{"name": "PC-07", "host": "10.0.0.7",
//  "state": "confirmed", "time": "14:05:09", "report": "verified"}, ...]} on one line. state is
// "delivered", "confirmed" or "not_delivered", without waiting "sent" or "not_delivered"; time is null
// without a report; report is "verified" (signed by the workstation's pinned key), "not_verified" (signed
// otherwise, or unsigned from a workstation known to sign), "unsigned", or null without a report.
QByteArray jsonReport(const SendOutcome& outcome);

// 3 when no datagram left; else 0 when every recipient reached `require` (without waiting: every
// datagram left), 1 when some did not.
int exitCode(const SendOutcome& outcome, Requirement require);

} // namespace plinket
