#include "agent_sessions.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QDateTime>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cstdio>

namespace plinket {

namespace {

// How many messages that sessions may still show are remembered after the receive loop moved on.
constexpr std::size_t RECENT_MESSAGES = 64;
// What is read of the state file at most: 64 messages of at most a few kilobytes each.
constexpr qint64 STATE_FILE_LIMIT = 1024 * 1024;

void writeJournal(int eventId, const QString& s1, const QString& s2, const QString& s3, const EventFields& extra) {
    reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, eventId, s1, s2, s3, extra);
}

ChannelFrame frameOf(ChannelFrameType type) {
    ChannelFrame frame;
    frame.type = type;
    return frame;
}

} // namespace

struct AgentSessions::Peer {
    QLocalSocket* socket = nullptr;
    PeerVerdict verdict;
    bool welcomed = false;
    FrameReader reader;
    QSet<QString> tokens;    // messages this session has (sent to it, or re-announced by it)
    QSet<QString> visible;   // of those, the ones it said are visible
    QSet<QString> confirmed; // and confirmed
};

AgentSessions::AgentSessions(PeerCheck check, qint64 holdMs, QObject* parent)
    : QObject(parent), m_check(std::move(check)), m_holdMs(holdMs), m_writeEvent(writeJournal) {
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &AgentSessions::expire);
}

AgentSessions::~AgentSessions() {
    for (Peer* peer : std::as_const(m_peers))
        delete peer;
}

bool AgentSessions::listen(const QString& name) {
    m_server = new QLocalServer(this);
    // Every local user may connect; the check of each connection decides who is served.
    m_server->setSocketOptions(QLocalServer::WorldAccessOption);
    QLocalServer::removeServer(name); // a socket file left by an agent that was killed
    if (!m_server->listen(name))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, &AgentSessions::accept);
    return true;
}

int AgentSessions::sessionCount() const {
    int count = 0;
    for (const Peer* peer : m_peers)
        count += peer->welcomed ? 1 : 0;
    return count;
}

void AgentSessions::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        auto* peer = new Peer;
        peer->socket = socket;
        // Judged now, while the process that connected is certainly the one at the other end.
        peer->verdict = m_check(socket->socketDescriptor());
        m_peers.insert(socket, peer);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (Peer* p = m_peers.value(socket))
                readFrom(p);
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            if (Peer* p = m_peers.value(socket))
                drop(p);
        });
        readFrom(peer);
    }
}

void AgentSessions::readFrom(Peer* peer) {
    QLocalSocket* socket = peer->socket;
    peer->reader.append(socket->readAll());
    while (const std::optional<ChannelFrame> frame = peer->reader.next()) {
        handleFrame(peer, *frame);
        if (!m_peers.contains(socket))
            return; // dropped meanwhile, and gone
    }
    if (peer->reader.failed())
        drop(peer);
}

void AgentSessions::handleFrame(Peer* peer, const ChannelFrame& frame) {
    // A pop-up process says hello once, first, and afterwards only what it may say.
    if (!sentByPopup(frame.type) || (frame.type == ChannelFrameType::Hello) == peer->welcomed) {
        drop(peer);
        return;
    }
    switch (frame.type) {
    case ChannelFrameType::Hello:
        if (frame.version != AGENT_CHANNEL_VERSION) {
            ChannelFrame refused = frameOf(ChannelFrameType::Refused);
            refused.reason = u"this agent speaks channel version "_qs + QString::number(AGENT_CHANNEL_VERSION) +
                             u", the pop-up process version "_qs + QString::number(frame.version) +
                             u": start the plinket_client of the installed package"_qs;
            send(peer, refused);
            drop(peer);
            return;
        }
        welcome(peer);
        return;
    case ChannelFrameType::Visible:
        sighted(peer, frame.token, false);
        return;
    case ChannelFrameType::Confirmed:
        sighted(peer, frame.token, true);
        return;
    case ChannelFrameType::Showing:
        announced(peer, frame);
        return;
    case ChannelFrameType::Waiting:
        waitingIn(peer, frame.token, frame.reason);
        return;
    default:
        drop(peer);
    }
}

void AgentSessions::welcome(Peer* peer) {
    QString refusal = peer->verdict.refusal;
    if (peer->verdict.session) {
        for (const Peer* other : std::as_const(m_peers))
            if (other->welcomed && other->verdict.session->sessionId == peer->verdict.session->sessionId)
                refusal = u"another pop-up process already serves session "_qs + other->verdict.session->sessionId;
    }
    if (!peer->verdict.session || !refusal.isEmpty()) {
        ChannelFrame refused = frameOf(ChannelFrameType::Refused);
        refused.reason = refusal;
        send(peer, refused);
        std::fprintf(stderr, "plinket_agent: refused a pop-up process: %s\n", qPrintable(refusal));
        drop(peer);
        return;
    }
    peer->welcomed = true;
    emit sessionsChanged();
    ChannelFrame welcome = frameOf(ChannelFrameType::Welcome);
    welcome.version = AGENT_CHANNEL_VERSION;
    send(peer, welcome);
    // Re-announcements, if any, follow at once; the current message goes out after them, so a
    // session that still shows it is not sent it twice.
    QMetaObject::invokeMethod(
        this,
        [this, socket = peer->socket] {
            if (Peer* p = m_peers.value(socket))
                offerCurrent(p);
        },
        Qt::QueuedConnection);
}

void AgentSessions::offerCurrent(Peer* peer) {
    if (!m_current || !peer->welcomed)
        return;
    m_current->shownToSomeone = true;
    m_expiry.stop();
    if (peer->tokens.contains(m_current->token))
        return;
    ChannelFrame show = frameOf(ChannelFrameType::Show);
    show.token = m_current->token;
    show.message = m_current->message;
    send(peer, show);
    peer->tokens.insert(m_current->token);
}

void AgentSessions::open(const IncomingMessage& message, PopupCallbacks callbacks) {
    if (m_stillOpen)
        recheckSessions(m_stillOpen);
    // A token names one handing-out. Two copies of a message (same sender, id and text) that arrive in the
    // same millisecond would share one, and a session that had the first would never be offered the
    // second: the later copy counts as a millisecond later.
    IncomingMessage handedOut = message;
    const auto givenBefore = [this](const QString& token) {
        return std::any_of(m_recent.cbegin(), m_recent.cend(), [&token](const Recent& r) { return r.token == token; });
    };
    while (givenBefore(messageToken(handedOut)))
        ++handedOut.arrivedAtMs;
    m_current = Current{handedOut, messageToken(handedOut), std::move(callbacks)};
    m_current->neverShownSince = QDateTime::currentMSecsSinceEpoch();
    // Taken up again after a restart: the earlier run may already have sent its "1".
    if (const auto restored = m_announcedVisible.constFind(m_current->token); restored != m_announcedVisible.cend()) {
        m_current->visibleReported = restored.value();
        m_announcedVisible.erase(restored);
    }
    for (Peer* peer : std::as_const(m_peers))
        offerCurrent(peer);
    save();
    holdIfNobody();
}

void AgentSessions::close() {
    m_expiry.stop();
    if (m_current && m_current->shownToSomeone) {
        m_recent.push_back({m_current->token, m_current->message});
        if (m_recent.size() > RECENT_MESSAGES)
            m_recent.pop_front();
    }
    m_current.reset();
    save();
}

void AgentSessions::holdIfNobody() {
    if (!m_current || sessionCount() > 0 || m_current->callbacks.confirmed == nullptr)
        return;
    if (!m_current->visibleReported)
        if (auto waiting = std::exchange(m_current->callbacks.waiting, nullptr))
            waiting(u"no user session"_qs); // the receive loop journals it (event 107), once per message
    // Counted from its arrival while nobody has seen it, else from when the last session went away (a
    // session that was only offered it, and closed before showing it, does not count).
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 since = m_current->visibleReported ? now : m_current->message.arrivedAtMs;
    m_expiry.start(int(std::clamp<qint64>(since + m_holdMs - now, 0, std::numeric_limits<int>::max())));
}

void AgentSessions::expire() {
    if (!m_current || sessionCount() > 0)
        return;
    const MessageDatagram& fields = m_current->message.fields;
    m_writeEvent(EVENT_CLIENT_EXPIRED, fields.serverHost, fields.id, fields.text, {});
    if (auto abandoned = std::exchange(m_current->callbacks.abandoned, nullptr))
        abandoned(); // the receive loop closes this pop-up and moves on
}

const IncomingMessage* AgentSessions::findMessage(const QString& token) const {
    if (m_current && m_current->token == token)
        return &m_current->message;
    for (const Recent& r : m_recent)
        if (r.token == token)
            return &r.message;
    return nullptr;
}

void AgentSessions::sighted(Peer* peer, const QString& token, bool confirmed) {
    // Only a message this session was given, and each event once per session.
    QSet<QString>& done = confirmed ? peer->confirmed : peer->visible;
    if (!peer->tokens.contains(token) || done.contains(token))
        return;
    done.insert(token);
    const IncomingMessage* message = findMessage(token);
    if (!message)
        return;
    if (m_current && m_current->token == token) {
        std::function<void()> report;
        if (!confirmed && !m_current->visibleReported)
            report = std::exchange(m_current->callbacks.visible, nullptr);
        else if (confirmed)
            report = std::exchange(m_current->callbacks.confirmed, nullptr);
        if (report) {
            m_current->visibleReported = true;
            m_expiry.stop();
            // The receive loop writes event 101 or 102 with these fields and sends the report; on a
            // confirmation it closes this message (close()) and takes the next one.
            m_viewer = fieldsOf(peer);
            report();
            m_viewer.clear();
            save();
            return;
        }
    }
    // Seen or confirmed in one more session: journaled, no further report.
    m_writeEvent(confirmed ? EVENT_CLIENT_CONFIRMED : EVENT_CLIENT_RECEIVED, message->fields.serverHost,
                 message->fields.id, message->fields.text, fieldsOf(peer));
}

void AgentSessions::waitingIn(Peer* peer, const QString& token, const QString& reason) {
    // The first session that says why it cannot show the current message yet, unless one already can:
    // the receive loop journals it (event 107) with this session's user, once per message.
    if (!peer->tokens.contains(token) || !m_current || m_current->token != token || m_current->visibleReported)
        return;
    if (auto waiting = std::exchange(m_current->callbacks.waiting, nullptr)) {
        m_viewer = fieldsOf(peer);
        waiting(reason);
        m_viewer.clear();
    }
}

void AgentSessions::announced(Peer* peer, const ChannelFrame& frame) {
    // Only messages this agent handed out (the current one, the recent ones, those restored from the
    // state file), and only with the content that gives their token.
    const bool handedOut = findMessage(frame.token) || m_announcedVisible.contains(frame.token);
    if (messageToken(frame.message) != frame.token || !handedOut)
        return;
    peer->tokens.insert(frame.token);
    if (frame.alreadyVisible)
        peer->visible.insert(frame.token);
    if (m_current && m_current->token == frame.token) {
        m_current->shownToSomeone = true;
        m_expiry.stop();
    }
}

void AgentSessions::drop(Peer* peer) {
    m_peers.remove(peer->socket);
    peer->socket->disconnect(this);
    peer->socket->disconnectFromServer();
    peer->socket->deleteLater();
    const bool wasWelcomed = peer->welcomed;
    delete peer;
    if (wasWelcomed) {
        emit sessionsChanged();
        holdIfNobody();
    }
}

void AgentSessions::send(Peer* peer, const ChannelFrame& frame) {
    peer->socket->write(encodeFrame(frame));
    peer->socket->flush();
}

EventFields AgentSessions::fieldsOf(const Peer* peer) const {
    if (!peer->verdict.session)
        return {};
    return {{JOURNAL_USER_FIELD, peer->verdict.session->userName},
            {JOURNAL_SESSION_FIELD, peer->verdict.session->sessionId}};
}

void AgentSessions::recheckSessions(const SessionStillOpen& stillOpen) {
    const QList<Peer*> peers = m_peers.values();
    for (Peer* peer : peers)
        if (peer->welcomed && !stillOpen(peer->verdict.session->sessionId))
            drop(peer);
}

// The state file: a CBOR array of {k: token, m: message, open: still waiting for its first
// confirmation, seen: its "1" was sent}.
void AgentSessions::save() const {
    if (m_stateFile.isEmpty())
        return;
    QCborArray entries;
    const auto entry = [](const QString& token, const IncomingMessage& m, bool open, bool seen) {
        QCborMap map;
        map.insert(u"k"_qs, token);
        ChannelFrame frame = frameOf(ChannelFrameType::Show);
        frame.message = m;
        frame.token = token;
        map.insert(u"f"_qs, QCborValue(encodeFrame(frame)));
        map.insert(u"open"_qs, open);
        map.insert(u"seen"_qs, seen);
        return map;
    };
    for (const Recent& r : m_recent)
        entries.append(entry(r.token, r.message, false, true));
    if (m_current)
        entries.append(entry(m_current->token, m_current->message, true, m_current->visibleReported));
    QSaveFile file(m_stateFile);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(entries.toCborValue().toCbor());
        file.commit();
    }
}

QList<IncomingMessage> AgentSessions::restoreFrom(const QString& stateFile) {
    m_stateFile = stateFile;
    QList<IncomingMessage> open;
    QFile file(stateFile);
    if (stateFile.isEmpty() || !file.open(QIODevice::ReadOnly))
        return open;
    const QCborArray entries = QCborValue::fromCbor(file.read(STATE_FILE_LIMIT)).toArray();
    for (const QCborValue& value : entries) {
        const QCborMap map = value.toMap();
        FrameReader reader;
        reader.append(map.value(u"f"_qs).toByteArray());
        const std::optional<ChannelFrame> frame = reader.next();
        if (!frame || frame->type != ChannelFrameType::Show || messageToken(frame->message) != frame->token)
            continue;
        if (map.value(u"open"_qs).toBool()) {
            m_announcedVisible.insert(frame->token, map.value(u"seen"_qs).toBool());
            open.append(frame->message);
        } else {
            m_recent.push_back({frame->token, frame->message});
        }
    }
    return open;
}

} // namespace plinket
