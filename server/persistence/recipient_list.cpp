#include "recipient_list.h"

#include <algorithm>

namespace plinket {

namespace {

void countBits(std::array<qint32, 8>& counts, quint8 value, qint32 delta) {
    for (int bit = 0; value != 0; ++bit, value >>= 1) {
        if (value & 1)
            counts[size_t(bit)] += delta;
    }
}

quint8 orOfCounts(const std::array<qint32, 8>& counts) {
    quint8 value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (counts[size_t(bit)] > 0)
            value |= quint8(1u << bit);
    }
    return value;
}

} // namespace

bool notDeliveredInLastRound(const RecipientRecord& record) {
    return !record.isGroup && (record.deliveryStatus == STATUS_NOT_DELIVERED ||
                               (record.deliveryStatus == STATUS_WAITING && record.messageId != 0));
}

bool unconfirmedInLastRound(const RecipientRecord& record) {
    return notDeliveredInLastRound(record) || (!record.isGroup && record.deliveryStatus == STATUS_DELIVERED);
}

RecipientList::RecipientList(std::vector<RecipientRecord> records) : m_records(std::move(records)) {
    const size_t n = m_records.size();
    m_children.assign(n, {});
    m_row.assign(n, 0);
    m_subtreeEnd.resize(n);
    for (size_t i = 0; i < n; ++i) {
        m_subtreeEnd[i] = int(i) + 1;
        const int parent = m_records[i].parentIndex;
        if (parent >= 0) {
            m_row[i] = int(m_children[size_t(parent)].size());
            m_children[size_t(parent)].append(int(i));
        }
    }
    for (size_t i = n; i-- > 0;) {
        const int parent = m_records[i].parentIndex;
        if (parent >= 0)
            m_subtreeEnd[size_t(parent)] = std::max(m_subtreeEnd[size_t(parent)], m_subtreeEnd[i]);
    }
    recount(PropagationMode::Icons);
    recount(PropagationMode::Check);
}

void RecipientList::recount(PropagationMode mode) {
    Aggregate& agg = aggregate(mode);
    agg.counts.assign(m_records.size(), BitCounts{});
    agg.counted.assign(m_records.size(), 0);
    for (size_t i = 0; i < m_records.size(); ++i) {
        const int parent = m_records[i].parentIndex;
        if (parent < 0)
            continue;
        agg.counted[i] = field(m_records[i], mode);
        countBits(agg.counts[size_t(parent)], agg.counted[i], 1);
    }
}

ChangedRecords RecipientList::propagateToAncestors(int index, quint8 value, PropagationMode mode) {
    ChangedRecords changed;
    if (index < 0 || index >= size())
        return changed;
    Aggregate& agg = aggregate(mode);
    quint8& own = field(m_records[size_t(index)], mode);
    if (own != value) {
        own = value;
        changed.append(index);
    }
    // Every ancestor is recomputed up to the root, as a full rescan would; with the counts each step
    // is constant work, so there is nothing to gain from stopping early.
    for (int current = index, parent = m_records[size_t(index)].parentIndex; parent >= 0;
         current = parent, parent = m_records[size_t(parent)].parentIndex) {
        const quint8 now = field(m_records[size_t(current)], mode);
        quint8& counted = agg.counted[size_t(current)];
        if (now != counted) {
            countBits(agg.counts[size_t(parent)], counted, -1);
            countBits(agg.counts[size_t(parent)], now, 1);
            counted = now;
        }
        const quint8 combined = orOfCounts(agg.counts[size_t(parent)]);
        quint8& parentValue = field(m_records[size_t(parent)], mode);
        if (parentValue != combined) {
            parentValue = combined;
            changed.append(parent);
        }
    }
    return changed;
}

ChangedRecords RecipientList::propagateToDescendants(int index, quint8 state) {
    ChangedRecords changed;
    if (index < 0 || index >= size())
        return changed;
    const int end = subtreeEnd(index);
    for (int i = index + 1; i < end; ++i) {
        if (m_records[size_t(i)].checkState != state) {
            m_records[size_t(i)].checkState = state;
            changed.append(i);
        }
        // Every group inside the subtree now counts only `state`; group `index` itself loses what
        // its children counted before.
        if (!m_children[size_t(i)].isEmpty()) {
            m_check.counts[size_t(i)] = BitCounts{};
            countBits(m_check.counts[size_t(i)], state, qint32(m_children[size_t(i)].size()));
        }
        if (m_records[size_t(i)].parentIndex == index && m_check.counted[size_t(i)] != state) {
            countBits(m_check.counts[size_t(index)], m_check.counted[size_t(i)], -1);
            countBits(m_check.counts[size_t(index)], state, 1);
        }
        m_check.counted[size_t(i)] = state;
    }
    return changed;
}

ChangedRecords RecipientList::applyCheck(int index, quint8 state) {
    if (index < 0 || index >= size() || m_records[size_t(index)].checkState == state)
        return {};
    ChangedRecords changed;
    if (m_records[size_t(index)].isGroup)
        changed = propagateToDescendants(index, state);
    changed += propagateToAncestors(index, state, PropagationMode::Check);
    return changed;
}

ChangedRecords RecipientList::toggleCheck(int index) {
    if (index < 0 || index >= size())
        return {};
    return applyCheck(index, checkStateAfterClick(m_records[size_t(index)].checkState));
}

ChangedRecords RecipientList::checkOnly(const std::function<bool(const RecipientRecord&)>& wanted) {
    ChangedRecords changed;
    for (int i = 0; i < size(); ++i) {
        if (m_records[size_t(i)].parentIndex < 0)
            changed += applyCheck(i, CHECK_UNCHECKED);
    }
    for (int i = 0; i < size(); ++i) {
        if (!m_records[size_t(i)].isGroup && wanted(m_records[size_t(i)]))
            changed += applyCheck(i, CHECK_CHECKED);
    }
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    return changed;
}

ChangedRecords RecipientList::resetDeliveryState() {
    ChangedRecords changed;
    for (size_t i = 0; i < m_records.size(); ++i) {
        RecipientRecord& r = m_records[i];
        r.messageId = 0;
        r.sentTo.reset();
        r.reportTrust = ReportTrust::Unsigned;
        r.reportKeyId.clear();
        if (r.deliveryStatus != STATUS_WAITING) {
            r.deliveryStatus = STATUS_WAITING;
            changed.append(int(i));
        }
    }
    m_status.counts.assign(m_records.size(), BitCounts{});
    m_status.counted.assign(m_records.size(), 0);
    m_bySentTo.clear();
    return changed;
}

void RecipientList::setMessageId(int index, qint32 messageId, std::optional<quint32> sentTo) {
    RecipientRecord& r = m_records[size_t(index)];
    if (r.sentTo) {
        std::vector<int>& was = m_bySentTo[*r.sentTo];
        was.erase(std::remove(was.begin(), was.end(), index), was.end());
    }
    r.messageId = messageId;
    r.sentTo = sentTo;
    if (sentTo && !r.isGroup) {
        // Mostly stamped in list order; a name that resolved late comes after later records.
        std::vector<int>& list = m_bySentTo[*sentTo];
        list.insert(std::lower_bound(list.begin(), list.end(), index), index);
    }
}

void RecipientList::setAllMessageIds(qint32 messageId) {
    for (RecipientRecord& r : m_records) {
        r.messageId = messageId;
        r.sentTo.reset();
    }
    m_bySentTo.clear();
}

const std::vector<int>& RecipientList::recordsSentTo(quint32 address) const {
    static const std::vector<int> none;
    const auto it = m_bySentTo.constFind(address);
    return it == m_bySentTo.constEnd() ? none : it.value();
}

ChangedRecords RecipientList::recordReport(int index, quint8 status, const QString& reportTime, ReportTrust trust,
                                           const QByteArray& keyId) {
    if (index < 0 || index >= size())
        return {};
    RecipientRecord& r = m_records[size_t(index)];
    r.reportTime = reportTime;
    r.reportTrust = trust;
    r.reportKeyId = keyId;
    return propagateToAncestors(index, status, PropagationMode::Icons);
}

} // namespace plinket
