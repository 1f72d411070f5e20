#pragma once

// "Who is listening": the console and `plinket_send --probe` ask a workstation whether a Plinket
// receiver runs there, and which version, with a probe request to the message port; the receiver
// answers to the asker's report port.
//
// Both datagrams are longer than RECEIVE_BUFFER_SIZE (2048 bytes) on purpose. Every client and console
// that only knows messages and reports drops a datagram longer than that whole, unread and unanswered:
// an older client never shows a probe as a pop-up, and an older console never takes an answer for a
// report. Only a receiver that knows the layout below looks at such a datagram at all.
//
//   request, asker -> UDP 47127:    "PLINKET-PROBE" 04 NONCE, then NUL bytes up to PROBE_REQUEST_SIZE
//   answer,  receiver -> UDP 47128: "PLINKET-PROBE-ANSWER" 04 NONCE 04 VERSION 04 HOST 04 KIND 04 SESSIONS,
//                                   then NUL bytes up to PROBE_ANSWER_SIZE
//
// NONCE is a random 64-bit number in decimal, echoed by the answer so the asker can tell its own answers
// from forged or stale ones. KIND is "client" (a standalone plinket_client) or "agent" (the host agent),
// SESSIONS the number of graphical sessions an agent serves (empty for a client). An answer is never
// longer than the request it answers, so a forged source address cannot make a receiver a traffic
// amplifier; receivers also limit how many answers they send per second (ProbeAnswerLimiter).

#include "protocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace plinket {

inline constexpr char PROBE_REQUEST_MARKER[] = "PLINKET-PROBE";
inline constexpr char PROBE_ANSWER_MARKER[] = "PLINKET-PROBE-ANSWER";
inline constexpr int PROBE_REQUEST_SIZE = 2100;
inline constexpr int PROBE_ANSWER_SIZE = 2064;
static_assert(PROBE_ANSWER_SIZE > RECEIVE_BUFFER_SIZE && PROBE_ANSWER_SIZE <= PROBE_REQUEST_SIZE);

inline constexpr QStringView PROBE_KIND_CLIENT = u"client";
inline constexpr QStringView PROBE_KIND_AGENT = u"agent";

struct ProbeAnswer {
    quint64 nonce = 0;
    QString version;   // the receiver's PLINKET_VERSION, "1.40"
    QString host;      // the workstation's host name
    QString kind;      // PROBE_KIND_CLIENT or PROBE_KIND_AGENT
    int sessions = -1; // graphical sessions an agent serves; -1 for a client (the field is empty)
};

QByteArray formatProbeRequest(quint64 nonce);
// The nonce of a probe request: PROBE_ANSWER_SIZE to PROBE_REQUEST_SIZE bytes (so the answer is never
// longer), the marker and separator, 1 to 20 decimal digits that fit 64 bits, then only NUL bytes or blanks.
std::optional<quint64> parseProbeRequest(QByteArrayView datagram);

// Exactly PROBE_ANSWER_SIZE bytes; strings too long for the answer are cut, separators and NULs in them
// become '?'.
QByteArray formatProbeAnswer(const ProbeAnswer& answer);
// A datagram longer than RECEIVE_BUFFER_SIZE and at most PROBE_REQUEST_SIZE bytes with the answer
// marker, a decimal nonce and a kind; fields after the sixth are ignored (room for later additions).
std::optional<ProbeAnswer> parseProbeAnswer(QByteArrayView datagram);

// A nonce from the system's cryptographic random source.
quint64 randomProbeNonce();

// A token bucket: at most BURST answers at once, refilled at RATE_PER_SECOND. A flood of probes with
// forged source addresses gets at most that many answers a second out of one receiver.
class ProbeAnswerLimiter {
public:
    static constexpr qint64 RATE_PER_SECOND = 20;
    static constexpr qint64 BURST = 20;

    // Whether an answer may leave at `nowMs` (a steady clock); takes a token when it may.
    bool allow(qint64 nowMs);

private:
    qint64 m_milliTokens = BURST * 1000;
    qint64 m_lastMs = -1;
};

} // namespace plinket
