#pragma once

// The datagrams the client has read but not yet handled, oldest first, in a bounded queue shared fairly
// between sender addresses. When the queue is full, room is made where it is fairest: the newest entry of
// the sender address that holds the most entries gives way (of several that hold as many, the one that
// sent last), or the newcomer itself when its own sender already holds the most. A flood from some
// addresses therefore fills the queue only up to where another address needs room, and a sender with
// fewer entries waiting than every flooding one always gets in. Flooding from more addresses than the
// queue has places spreads it too thin for that promise: forged source addresses can do so on a LAN.

#include "message_gate.h"
#include "message_socket.h"

#include <deque>
#include <list>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

namespace plinket {

struct WaitingDatagram {
    ReceivedDatagram datagram;
    GateVerdict verdict; // what the gate's screen said (empty without a gate)
};

class FairQueue {
public:
    explicit FairQueue(qsizetype capacity) : m_capacity(capacity) {}

    // Appends `entry` (its sender is datagram.source); returns the entry that gave way, if one had to.
    std::optional<WaitingDatagram> push(WaitingDatagram entry);
    // The oldest entry, removed. Not on an empty queue.
    WaitingDatagram takeFront();

    bool isEmpty() const { return m_entries.empty(); }
    qsizetype size() const { return qsizetype(m_entries.size()); }
    qsizetype capacity() const { return m_capacity; }

private:
    struct Slot {
        quint64 sequence;
        quint32 sender;
        WaitingDatagram entry;
    };
    using SlotList = std::list<Slot>;
    using SenderSlots = std::deque<SlotList::iterator>; // one sender's entries, oldest first

    void rank(quint32 sender, const SenderSlots& own);
    void unrank(quint32 sender, const SenderSlots& own);
    void removeSlot(SlotList::iterator slot, bool newest);

    qsizetype m_capacity;
    quint64 m_nextSequence = 0;
    SlotList m_entries;
    std::unordered_map<quint32, SenderSlots> m_senders;
    // Every sender with entries as (entries held, sequence of its newest, address): the last is the one to
    // give way.
    std::set<std::tuple<qsizetype, quint64, quint32>> m_load;
};

} // namespace plinket
