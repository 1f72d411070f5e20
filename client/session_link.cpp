#include "session_link.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocalSocket>

#include <cstdio>

namespace plinket {

namespace {

// Where the agent's folder cannot be watched, how often a lost agent is looked for.
constexpr int RETRY_MS = 2000;

} // namespace

SessionLink::SessionLink(Popup& popup, QObject* parent) : QObject(parent), m_popup(popup) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(RETRY_MS);
    connect(&m_retry, &QTimer::timeout, this, &SessionLink::reconnect);
}

SessionLink::~SessionLink() = default;

AgentAnswer SessionLink::start(const QString& name, int timeoutMs) {
    m_name = name;
    // A local event loop rather than blocking waits: the answer comes through the usual signals.
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    m_startLoop = &loop;
    connectSocket();
    if (!m_answer)
        loop.exec();
    m_startLoop = nullptr;
    if (!m_answer) {
        m_refusal = u"the agent did not answer"_qs;
        return AgentAnswer::Refused;
    }
    return *m_answer;
}

void SessionLink::answer(AgentAnswer answer) {
    m_answer = answer;
    if (m_startLoop)
        m_startLoop->quit();
}

void SessionLink::connectSocket() {
    m_socket = new QLocalSocket(this);
    m_reader = FrameReader();
    connect(m_socket, &QLocalSocket::readyRead, this, &SessionLink::readFrames);
    connect(m_socket, &QLocalSocket::disconnected, this, &SessionLink::lost);
    connect(m_socket, &QLocalSocket::connected, this, [this] {
        ChannelFrame hello;
        hello.type = ChannelFrameType::Hello;
        hello.version = AGENT_CHANNEL_VERSION;
        send(hello);
    });
    connect(m_socket, &QLocalSocket::errorOccurred, this, [this] {
        if (!m_socket || m_socket->state() == QLocalSocket::ConnectedState)
            return;
        if (!m_answer) {
            // Nothing listens at start-up: the client works alone.
            m_socket->disconnect(this);
            m_socket->deleteLater();
            m_socket = nullptr;
            answer(AgentAnswer::NoAgent);
            return;
        }
        lost(); // not there yet: wait for the next change
    });
    m_socket->connectToServer(m_name);
}

void SessionLink::reconnect() {
    if (!m_socket)
        connectSocket();
}

void SessionLink::lost() {
    if (!m_socket)
        return;
    if (!m_answer) {
        m_refusal = u"the agent closed the connection"_qs;
        answer(AgentAnswer::Refused);
    }
    m_welcomed = false;
    m_socket->disconnect(this);
    m_socket->deleteLater();
    m_socket = nullptr;
    // Pop-ups stay on screen; the agent is looked for again when the folder of its socket changes
    // (a socket path; a pipe name has no folder, and is retried on a timer instead).
    const QString folder = QFileInfo(m_name).isAbsolute() ? QFileInfo(m_name).absolutePath() : QString();
    if (!m_watcher && !folder.isEmpty()) {
        m_watcher = new QFileSystemWatcher(this);
        connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &SessionLink::reconnect);
    }
    if (m_watcher && (m_watcher->directories().contains(folder) || m_watcher->addPath(folder)))
        return;
    m_retry.start();
}

void SessionLink::readFrames() {
    if (!m_socket)
        return;
    m_reader.append(m_socket->readAll());
    while (const std::optional<ChannelFrame> frame = m_reader.next()) {
        handle(*frame);
        if (!m_socket)
            return;
    }
    if (m_reader.failed())
        m_socket->disconnectFromServer();
}

void SessionLink::handle(const ChannelFrame& frame) {
    switch (frame.type) {
    case ChannelFrameType::Welcome:
        if (m_welcomed)
            break;
        m_welcomed = true;
        answer(AgentAnswer::Welcome);
        reannounce();
        return;
    case ChannelFrameType::Refused:
        m_refusal = frame.reason;
        if (m_answer == AgentAnswer::Welcome)
            emit refusedLater(frame.reason);
        answer(AgentAnswer::Refused);
        return;
    case ChannelFrameType::Show:
        if (!m_welcomed)
            break;
        for (const Entry& e : m_queue)
            if (e.token == frame.token)
                return;
        m_queue.push_back({frame.token, frame.message});
        showNext();
        return;
    default:
        break;
    }
    // Anything the agent may not send ends the connection.
    m_socket->disconnectFromServer();
}

void SessionLink::reannounce() {
    const auto announce = [this](Entry& e) {
        ChannelFrame showing;
        showing.type = ChannelFrameType::Showing;
        showing.token = e.token;
        showing.message = e.message;
        showing.alreadyVisible = e.visibleSent;
        send(showing);
        if (e.visible && !e.visibleSent)
            sendToken(ChannelFrameType::Visible, e.token);
        e.visibleSent = e.visible;
        if (e.confirmed)
            sendToken(ChannelFrameType::Confirmed, e.token);
    };
    for (Entry& e : m_unannounced)
        announce(e);
    m_unannounced.clear();
    for (Entry& e : m_queue)
        announce(e);
}

void SessionLink::showNext() {
    if (m_showing || m_queue.empty())
        return;
    m_showing = true;
    const QString token = m_queue.front().token;
    PopupCallbacks callbacks;
    callbacks.visible = [this, token] {
        if (m_queue.empty() || m_queue.front().token != token)
            return;
        m_queue.front().visible = true;
        m_queue.front().visibleSent = m_welcomed;
        if (m_welcomed)
            sendToken(ChannelFrameType::Visible, token);
    };
    callbacks.confirmed = [this, token] {
        if (m_queue.empty() || m_queue.front().token != token)
            return;
        Entry done = m_queue.front();
        m_queue.pop_front();
        done.confirmed = true;
        if (m_welcomed)
            sendToken(ChannelFrameType::Confirmed, token);
        else
            m_unannounced.push_back(done);
        m_popup.close();
        m_showing = false;
        // The next pop-up once the OK button's own signal has returned.
        QMetaObject::invokeMethod(this, &SessionLink::showNext, Qt::QueuedConnection);
    };
    callbacks.waiting = [this, token](const QString& reason) {
        if (m_welcomed && !m_queue.empty() && m_queue.front().token == token) {
            ChannelFrame waiting;
            waiting.type = ChannelFrameType::Waiting;
            waiting.token = token;
            waiting.reason = reason.left(MAX_REASON_CHARS);
            send(waiting);
        }
    };
    m_popup.open(m_queue.front().message, std::move(callbacks));
}

void SessionLink::send(const ChannelFrame& frame) {
    if (!m_socket)
        return;
    m_socket->write(encodeFrame(frame));
    m_socket->flush();
}

void SessionLink::sendToken(ChannelFrameType type, const QString& token) {
    ChannelFrame frame;
    frame.type = type;
    frame.token = token;
    send(frame);
}

} // namespace plinket
