#pragma once

// The local channel between the host agent (plinket_agent, which owns the network side of a computer)
// and the pop-up process of each user session (plinket_client in session mode). A stream socket
// (Linux: /run/plinket/agent.sock; Windows: the named pipe \\.\pipe\plinket-agent) carries frames:
// a 4-byte big-endian length, then one CBOR map {"t": type, ...}. One frame type per event:
//
//   pop-up -> agent   hello {v}           first frame: the channel version the pop-up speaks
//                     visible {k}         message k can now be seen in this session
//                     confirmed {k}       a person confirmed message k in this session
//                     waiting {k, r}      message k cannot be seen in this session yet, and why
//                     showing {k, m, s}   after a reconnect: message m (token k) is still on screen or
//                                         queued here; s = this session already said "visible" for it
//   agent -> pop-up   welcome {v}         the agent accepts this session
//                     refused {r}         it does not, with the reason; the connection then closes
//                     show {k, m}         show message m, known as k from now on
//
// Anything else (an unknown type, a frame the other side may not send, hello twice, a malformed map,
// a frame over MAX_FRAME_BYTES) ends the connection. A pop-up process of another channel version is
// answered "refused" and told which version the agent speaks, never half understood.

#include "incoming_message.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace plinket {

inline constexpr int AGENT_CHANNEL_VERSION = 1;
// A message datagram is at most 2048 bytes; its fields with the CBOR keys stay far below this.
inline constexpr int MAX_FRAME_BYTES = 16 * 1024;
// A waiting reason is a short phrase ("screen locked"); a longer one is refused, it would end in the journal.
inline constexpr int MAX_REASON_CHARS = 200;

enum class ChannelFrameType { Hello, Welcome, Refused, Show, Visible, Confirmed, Showing, Waiting };

struct ChannelFrame {
    ChannelFrameType type = ChannelFrameType::Hello;
    int version = 0;             // hello, welcome
    QString token;               // show, visible, confirmed, showing
    QString reason;              // refused, waiting
    IncomingMessage message;     // show, showing
    bool alreadyVisible = false; // showing
};

// The bytes of one frame, length prefix included.
QByteArray encodeFrame(const ChannelFrame& frame);

// The token of a message: the same message (same arrival, sender and fields) gets the same token in
// every session and after an agent restart, so re-announced pop-ups are matched to one message.
QString messageToken(const IncomingMessage& message);

// Collects the bytes of a stream and cuts them into frames.
class FrameReader {
public:
    void append(const QByteArray& bytes) { m_buffer += bytes; }
    // The next complete frame; nothing while it is incomplete. Sets failed() on a frame that cannot be
    // read (too long, not a map of known shape); the stream is then useless and must be closed.
    std::optional<ChannelFrame> next();
    bool failed() const { return m_failed; }

private:
    QByteArray m_buffer;
    bool m_failed = false;
};

// Where the agent listens: Linux "/run/plinket/agent.sock", Windows the pipe "plinket-agent".
QString agentChannelName();

// Whether a pop-up process may send this frame type to the agent (hello only as the first frame).
bool sentByPopup(ChannelFrameType type);

} // namespace plinket
