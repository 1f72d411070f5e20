#pragma once

// Broadcast mode and address as the settings window edits them and the send thread reads them.
// The settings window writes on the UI thread while a send may be running on another, so every
// read is one consistent snapshot taken under a small lock of its own.

#include <QMutex>
#include <QString>

namespace plinket {

struct BroadcastSnapshot {
    qint32 enabled = 0; // 1 when broadcast is on (kept as stored, so a hand-edited value survives)
    QString address;    // dotted text as stored, possibly empty or malformed until edited
};

class BroadcastSetting {
public:
    BroadcastSetting() = default;
    explicit BroadcastSetting(BroadcastSnapshot initial) : m_value(std::move(initial)) {}
    BroadcastSetting(const BroadcastSetting&) = delete;
    BroadcastSetting& operator=(const BroadcastSetting&) = delete;

    // Safe from any thread.
    BroadcastSnapshot snapshot() const {
        QMutexLocker lock(&m_mutex);
        return m_value;
    }
    void setEnabled(qint32 enabled) {
        QMutexLocker lock(&m_mutex);
        m_value.enabled = enabled;
    }
    void setAddress(const QString& address) {
        QMutexLocker lock(&m_mutex);
        m_value.address = address;
    }

private:
    mutable QMutex m_mutex;
    BroadcastSnapshot m_value;
};

} // namespace plinket
