#pragma once

// Recipient lists for the messaging tests, loaded from clients.ini text by the console's own loader,
// and a loopback socket that records the message datagrams a SendWorker sends.

#include "client_directory.h"
#include "protocol.h"
#include "recipient_list.h"

#include <QNetworkDatagram>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace plinket::test {

// `lines` are the lines of clients.ini after the version line, e.g. {"[+Accounting]", "ACC-1=10.0.0.1",
// "[-Accounting]"}. Every record starts unchecked.
inline RecipientList recipientsFrom(const QStringList& lines) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"clients.ini"_qs);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("\xEF\xBB\xBF;Plinket Clients v2\r\n");
    file.write(lines.join(u"\r\n"_qs).toUtf8() + "\r\n");
    file.close();
    return loadRecipients(path);
}

// The index of the record named `name` (the first one), -1 when there is none.
inline int recordNamed(const RecipientList& list, const QString& name) {
    for (int i = 0; i < list.size(); ++i)
        if (list.at(i).name == name)
            return i;
    return -1;
}

inline void check(RecipientList& list, const QString& name) {
    list.applyCheck(recordNamed(list, name), CHECK_CHECKED);
}

// A socket on 127.0.0.1..127.255.255.254 (any loopback address) at a port of the system's choice;
// takes what arrives and tells which loopback address each datagram was sent to.
class LoopbackReceiver {
public:
    LoopbackReceiver() { m_socket.bind(QHostAddress::AnyIPv4, 0); }
    quint16 port() const { return m_socket.localPort(); }

    struct Seen {
        QString to;
        QByteArray payload;
    };
    // Waits until `count` datagrams arrived (or the time is up) and returns all received so far.
    QList<Seen> take(int count, int timeoutMs = 5000) {
        QDeadlineTimer deadline(timeoutMs);
        while (m_seen.size() < count && !deadline.hasExpired()) {
            if (!m_socket.hasPendingDatagrams())
                m_socket.waitForReadyRead(20);
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = m_socket.receiveDatagram();
                m_seen.append({d.destinationAddress().toString(), d.data()});
            }
        }
        return m_seen;
    }
    static QStringList destinations(const QList<Seen>& seen) {
        QStringList to;
        for (const Seen& s : seen)
            to.append(s.to);
        return to;
    }

private:
    QUdpSocket m_socket;
    QList<Seen> m_seen;
};

} // namespace plinket::test
