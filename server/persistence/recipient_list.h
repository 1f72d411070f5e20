#pragma once

// The console's recipients: record i is item i of the recipient tree in display order, record 0
// the root "All clients". The list is built once (loadRecipients) and never changes its length or
// order; afterwards only field values change, and only through the operations below, which keep
// the group aggregates (OR of the children's values) up to date.
//
// Not locked itself: every thread that reads or writes records (UI thread, report listener, send
// worker) holds the console's recipientsLock around the calls, and never waits for the UI thread
// while holding it. The operations that change shown values return the indices whose value changed,
// so the tree model can emit dataChanged for exactly those (after the lock is released, via a
// queued call when the caller is not the UI thread).
//
// Each group keeps, per bit of the value, how many of its children have that bit set, and each
// record remembers the value its parent last counted. An update therefore adjusts one counter set
// per ancestor: work proportional to the depth of the tree, with the same results as recomputing
// every ancestor from all its children.

#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace plinket {

// Check states, as bit sets: a group holds the OR of its children.
inline constexpr quint8 CHECK_UNCHECKED = 1;
inline constexpr quint8 CHECK_CHECKED = 2;
inline constexpr quint8 CHECK_PARTIAL = 3;

// Delivery status bits; a group holds the OR of its children (0..7).
inline constexpr quint8 STATUS_WAITING = 0;
inline constexpr quint8 STATUS_DELIVERED = 1;
inline constexpr quint8 STATUS_CONFIRMED = 2;
inline constexpr quint8 STATUS_NOT_DELIVERED = 4;

inline constexpr char ROOT_RECORD_NAME[] = "MSG_Broadcast";

// What the console could tell about the workstation that sent the report a record shows.
enum class ReportTrust : quint8 {
    Unsigned,   // no report signature (a workstation without a key, or an unsigned Send): as always
    Verified,   // signed by the workstation's pinned key, for this very message
    Unverified, // signed, but not by the pinned key (the key changed), or the signature does not hold
};

struct RecipientRecord {
    QString host;       // client address as written in clients.ini, upper-cased; empty for groups
    QString name;       // text shown in the tree (the root shows the allClientsLabel text instead)
    quint8 isGroup = 0; // 1 for the root and groups
    quint8 checkState = CHECK_UNCHECKED;
    qint32 parentIndex = -1; // -1 for the root
    qint32 level = 0;        // 0 for the root
    qint32 messageId = 0;
    // Where its reports must come from: the IPv4 address its message was sent to (a name counts as the
    // address it resolved to; 0 when it gave none, so nothing matches). Empty when reports are matched by
    // name, as in a broadcast round.
    std::optional<quint32> sentTo;
    quint8 deliveryStatus = STATUS_WAITING;
    QString reportTime;                              // "hh:mm:ss" of the last accepted report
    ReportTrust reportTrust = ReportTrust::Unsigned; // of the last accepted report
    QByteArray reportKeyId;                          // the key id of a signed one
};

// Which aggregate propagateToAncestors recomputes: deliveryStatus ("icons") or checkState ("check").
enum class PropagationMode { Icons, Check };

// Indices of records whose shown value (check state or status image) changed, in no set order.
using ChangedRecords = QList<int>;

// The clients the last round did not reach: "Not delivered", or still waiting although the round
// sent to them (its id is on the record).
bool notDeliveredInLastRound(const RecipientRecord& record);
// Those and the clients that showed the message but did not confirm it ("Delivered").
bool unconfirmedInLastRound(const RecipientRecord& record);

class RecipientList {
public:
    RecipientList() = default;
    // Takes records in tree order (parentIndex of record i < i, level = parent's level + 1, a
    // group's subtree directly after it); every value field is taken as given and the group
    // aggregates are counted from the children.
    explicit RecipientList(std::vector<RecipientRecord> records);

    int size() const { return int(m_records.size()); }
    bool isEmpty() const { return m_records.empty(); }
    const RecipientRecord& at(int index) const { return m_records[size_t(index)]; }
    const std::vector<RecipientRecord>& records() const { return m_records; }

    // Tree structure for a model: the children of a record in order, the record's row within its
    // parent, and the end (exclusive) of the contiguous range of its subtree.
    const QList<int>& children(int index) const { return m_children[size_t(index)]; }
    int rowInParent(int index) const { return m_row[size_t(index)]; }
    int subtreeEnd(int index) const { return m_subtreeEnd[size_t(index)]; }

    // Stores `value` in record `index` (deliveryStatus or checkState) and recomputes every
    // ancestor's aggregate up to the root.
    ChangedRecords propagateToAncestors(int index, quint8 value, PropagationMode mode);
    // Sets checkState of every record below group `index` to `state`.
    ChangedRecords propagateToDescendants(int index, quint8 state);

    // The check box of record `index` now shows `state`: stores it, passes it down to every record
    // below a group, and recomputes the ancestors. Nothing changes when the record already holds it.
    ChangedRecords applyCheck(int index, quint8 state);
    // A click or the space bar on the record's box: unchecked becomes checked, checked and partly
    // checked become unchecked; then as applyCheck.
    ChangedRecords toggleCheck(int index);
    static quint8 checkStateAfterClick(quint8 state) {
        return state == CHECK_UNCHECKED ? CHECK_CHECKED : CHECK_UNCHECKED;
    }
    // Ticks exactly the client records `wanted` selects and unticks every other record; the groups
    // follow as if each box had been clicked (everything unticked, then each wanted client ticked).
    ChangedRecords checkOnly(const std::function<bool(const RecipientRecord&)>& wanted);

    // Every record back to Waiting with messageId 0 (a new Send). Returns the records whose
    // status image changes.
    ChangedRecords resetDeliveryState();
    // Stamps a record with the id of a Send; with `sentTo` its reports count only from that address.
    void setMessageId(int index, qint32 messageId, std::optional<quint32> sentTo = std::nullopt);
    // Stamps every record (broadcast): reports are matched by name.
    void setAllMessageIds(qint32 messageId);
    // The client records stamped with `sentTo` == address, in list order; empty when none.
    const std::vector<int>& recordsSentTo(quint32 address) const;
    // An accepted report: time, status and trust stored, ancestors recomputed.
    ChangedRecords recordReport(int index, quint8 status, const QString& reportTime,
                                ReportTrust trust = ReportTrust::Unsigned, const QByteArray& keyId = {});

private:
    using BitCounts = std::array<qint32, 8>;
    struct Aggregate {
        std::vector<BitCounts> counts; // per record: children per bit of the value
        std::vector<quint8> counted;   // per record: the value its parent counted
    };
    static quint8& field(RecipientRecord& r, PropagationMode mode) {
        return mode == PropagationMode::Icons ? r.deliveryStatus : r.checkState;
    }
    Aggregate& aggregate(PropagationMode mode) { return mode == PropagationMode::Icons ? m_status : m_check; }
    void recount(PropagationMode mode);

    std::vector<RecipientRecord> m_records;
    QHash<quint32, std::vector<int>> m_bySentTo; // ascending indices
    std::vector<QList<int>> m_children;
    std::vector<int> m_row;
    std::vector<int> m_subtreeEnd;
    Aggregate m_status;
    Aggregate m_check;
};

} // namespace plinket
