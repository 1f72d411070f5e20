#pragma once

// Datagrams the client has read but not yet handled, in a bounded queue shared fairly between sender
// addresses. When the queue is full, room is made where it is fairest: the newest entry of the sender
// address that holds the most entries gives way (of several that hold as many, the one that sent last),
// or the newcomer itself when its own sender already holds the most. A flood from some addresses
// therefore fills the queue only up to where another address needs room, and a sender with fewer entries
// waiting than every flooding one always gets in. Flooding from more addresses than the queue has places
// spreads it too thin for that promise: forged source addresses can do so on a LAN.
//
// Entries are taken either oldest first (takeFront), or by turns (takeNextInTurn): the sender whose
// entries were taken fewest times since it last had none waiting gives up its oldest next (of several,
// the one waiting longest). Work spent on the entries is thus shared out by sender, and a sender that
// comes with one entry while others flood is served next, ahead of their backlog. Each sender's own
// entries always come out in the order they came in.

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
    // The oldest entry of the sender whose turn it is, removed. Not on an empty queue.
    WaitingDatagram takeNextInTurn();

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
    struct Sender {
        SenderSlots own;
        quint64 taken = 0;  // entries taken by turns since the sender last had none waiting
        quint64 joined = 0; // the sequence of its oldest entry when it last began to have some
    };

    void rank(quint32 sender, const SenderSlots& own);
    void unrank(quint32 sender, const SenderSlots& own);
    // Removes a sender's oldest or newest slot.
    WaitingDatagram take(quint32 sender, bool newest);

    qsizetype m_capacity;
    quint64 m_nextSequence = 0;
    SlotList m_entries;
    std::unordered_map<quint32, Sender> m_senders;
    // Every sender with entries as (taken, joined, address): the first is the one whose turn it is.
    std::set<std::tuple<quint64, quint64, quint32>> m_turns;
    // Every sender with entries as (entries held, sequence of its newest, address): the last is the one to
    // give way.
    std::set<std::tuple<qsizetype, quint64, quint32>> m_load;
};

} // namespace plinket
