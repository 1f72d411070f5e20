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

void FairQueue::removeSlot(SlotList::iterator slot, bool newest) {
    const quint32 sender = slot->sender;
    SenderSlots& own = m_senders.at(sender);
    unrank(sender, own);
    if (newest)
        own.pop_back();
    else
        own.pop_front();
    m_entries.erase(slot);
    if (own.empty())
        m_senders.erase(sender);
    else
        rank(sender, own);
}

std::optional<WaitingDatagram> FairQueue::push(WaitingDatagram entry) {
    const quint32 sender = entry.datagram.source.toIPv4Address();
    std::optional<WaitingDatagram> gaveWay;
    if (size() >= m_capacity) {
        const auto own = m_senders.find(sender);
        const qsizetype held = own == m_senders.end() ? 0 : qsizetype(own->second.size());
        const auto [mostHeld, newest, heaviest] = *m_load.rbegin(); // a copy: removeSlot changes the set
        if (held >= mostHeld)
            return entry;
        const SlotList::iterator victim = m_senders.at(heaviest).back();
        gaveWay = std::move(victim->entry);
        removeSlot(victim, true);
    }
    SenderSlots& own = m_senders[sender];
    unrank(sender, own);
    m_entries.push_back(Slot{m_nextSequence++, sender, std::move(entry)});
    own.push_back(std::prev(m_entries.end()));
    rank(sender, own);
    return gaveWay;
}

WaitingDatagram FairQueue::takeFront() {
    WaitingDatagram entry = std::move(m_entries.front().entry);
    removeSlot(m_entries.begin(), false);
    return entry;
}

} // namespace plinket
