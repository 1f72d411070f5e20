#pragma once

// Stands in for the systemd journal inside a test's private mount namespace: binds the journal's
// native socket and parses the records that sd_journal_send writes to it.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSocketNotifier>
#include <QString>

#include <memory>

namespace plinket::test {

using JournalRecord = QMap<QByteArray, QByteArray>;

// The three insertion strings of an event record, in order (empty where a field is missing).
QByteArrayList insertionStrings(const JournalRecord& record);

class JournalCapture {
public:
    JournalCapture() = default;
    ~JournalCapture();
    JournalCapture(const JournalCapture&) = delete;
    JournalCapture& operator=(const JournalCapture&) = delete;

    // True when the test runs under with_private_journal.sh as root.
    static bool available();
    // The reason to give QSKIP when it is not available.
    static QString unavailableReason();

    bool start();
    // Also takes records in whenever the event loop runs, so that a program writing many events never
    // waits on the socket's short queue while the test waits for something else.
    void readWhileEventLoopRuns();
    // Waits up to timeoutMs for at least `count` records in total and returns all received so far.
    QList<JournalRecord> waitForRecords(int count, int timeoutMs = 5000);

    static JournalRecord parseNative(const QByteArray& datagram);

private:
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<JournalRecord> m_records;
};

} // namespace plinket::test
