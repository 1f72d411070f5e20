#include "fair_queue.h"

namespace plinket {

void FairQueue::rank(quint32 sender, const SenderSlots& own) {
    if (!own.empty())
        m_load.emplace(qsizetype(own.size()), own.back()->sequence, sender);
}

void FairQueue::unrank(quint32 sender, const SenderSlots& own) {
    if (!own.empty())
        m_load.erase(std::make_tuple(qsizetype(own.size()), own.back()->sequence, sender));
}

WaitingDatagram FairQueue::take(quint32 sender, bool newest) {
    Sender& s = m_senders.at(sender);
    unrank(sender, s.own);
    const SlotList::iterator slot = newest ? s.own.back() : s.own.front();
    if (newest)
        s.own.pop_back();
    else
        s.own.pop_front();
    WaitingDatagram entry = std::move(slot->entry);
    m_entries.erase(slot);
    if (s.own.empty()) {
        m_turns.erase(std::make_tuple(s.taken, s.joined, sender));
        m_senders.erase(sender);
    } else {
        rank(sender, s.own);
    }
    return entry;
}

std::optional<WaitingDatagram> FairQueue::push(WaitingDatagram entry) {
    const quint32 sender = entry.datagram.source.toIPv4Address();
    std::optional<WaitingDatagram> gaveWay;
    if (size() >= m_capacity) {
        const auto own = m_senders.find(sender);
        const qsizetype held = own == m_senders.end() ? 0 : qsizetype(own->second.own.size());
        const auto [mostHeld, newest, heaviest] = *m_load.rbegin(); // a copy: take() changes the set
        if (held >= mostHeld)
            return entry;
        gaveWay = take(heaviest, true);
    }
    const auto [it, isNew] = m_senders.try_emplace(sender);
    Sender& s = it->second;
    if (isNew) {
        s.joined = m_nextSequence;
        m_turns.emplace(s.taken, s.joined, sender);
    }
    unrank(sender, s.own);
    m_entries.push_back(Slot{m_nextSequence++, sender, std::move(entry)});
    s.own.push_back(std::prev(m_entries.end()));
    rank(sender, s.own);
    return gaveWay;
}

WaitingDatagram FairQueue::takeFront() {
    return take(m_entries.front().sender, false);
}

WaitingDatagram FairQueue::takeNextInTurn() {
    const auto [taken, joined, sender] = *m_turns.begin();
    // Counted first: take() removes the sender altogether when this was its last entry.
    m_turns.erase(m_turns.begin());
    m_turns.emplace(taken + 1, joined, sender);
    m_senders.at(sender).taken = taken + 1;
    return take(sender, false);
}

} // namespace plinket
