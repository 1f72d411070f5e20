#pragma once

// The recipient tree as a view over the console's RecipientList: item i of the tree is record i,
// nothing is copied, so a directory of 10,000 clients costs no more than its records.
//
// Every read of a record happens under recipientsLock, which the console owns and shares with the
// send and report threads. A click on a check box or the space bar toggles the record through
// RecipientList::toggleCheck under the lock and announces every record whose box changed.
//
// Other threads change delivery fields and then call notifyRecordsChanged (or
// notifyAllRecordsChanged) after releasing the lock. That call never blocks: it marks the records
// in a set of atomic flags and, when no refresh is pending yet, posts one queued refresh to the UI
// thread, which emits dataChanged for all marked records at once. A burst of reports therefore
// costs one repaint per pass of the event loop, not one per report.
//
// A group's image shows which states occur below it, not how often, so a group turns green as soon
// as one client confirms. Its tooltip therefore counts its clients (at every depth) by state:
// waiting (sent to, no report yet), delivered, confirmed, not delivered, in the interface language
// in effect when the model is built. The counts are taken when the tooltip is asked for, by one walk
// over the group's own records, so reports cost nothing extra.

#include "recipient_list.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QList>
#include <QMutex>

#include <atomic>
#include <functional>
#include <memory>

namespace plinket {

class RecipientTreeModel final : public QAbstractItemModel {
    Q_OBJECT

public:
    // `records` and `lock` outlive the model. `rootLabel` is shown for record 0 (allClientsLabel);
    // `statusImages` are the eight status images, indexed by image number.
    RecipientTreeModel(RecipientList& records, QMutex& lock, QString rootLabel, QList<QIcon> statusImages,
                       QObject* parent = nullptr);
    ~RecipientTreeModel() override;

    // Call on the UI thread after the list was (re)built; no other thread may touch it meanwhile.
    void reload();

    QModelIndex indexOfRecord(int record) const;
    int recordOf(const QModelIndex& index) const;

    // Ticks exactly the clients `wanted` selects and unticks every other record (the groups follow),
    // under recipientsLock; the tree shows every box that changed. UI thread.
    void checkOnly(const std::function<bool(const RecipientRecord&)>& wanted);
    // Whether some record is selected by `wanted`, read under recipientsLock.
    bool anyRecord(const std::function<bool(const RecipientRecord&)>& wanted) const;

    // Lines about who is listening (probe_round.h) for the tooltips: given the hosts of a group's clients
    // at every depth (or a client's own host) and whether it is a group, the text to add, or empty. The
    // messaging seam sets it; asking may send probes, and their answers arrive as a change of record 0.
    using ListeningLine = std::function<QString(const QStringList& hosts, bool group)>;
    void setListeningLine(ListeningLine line) { m_listeningLine = std::move(line); }

    // Thread-safe and non-blocking; call after releasing recipientsLock.
    void notifyRecordsChanged(const ChangedRecords& records);
    void notifyAllRecordsChanged();

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // CheckStateRole only: acts as a click on the box (the proposed value is ignored, since a
    // partly checked box always goes to unchecked), see RecipientList::toggleCheck.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // The user toggled record `record` (after the model was updated).
    void recordToggled(int record);

private:
    // Announces changed values: dataChanged for each run of consecutive siblings, or, when that would
    // take more than MAX_CHANGED_RANGES signals, one layoutChanged in which nothing moves, after which
    // the view reads every row it shows afresh.
    static constexpr qsizetype MAX_CHANGED_RANGES = 64;
    void flushChanges();
    void emitChanged(const QList<int>& sortedRecords);

    RecipientList& m_records;
    QMutex& m_lock;
    QString groupTooltip(int record) const;
    QString clientTooltip(int record) const;

    QString m_rootLabel;
    ListeningLine m_listeningLine;
    QList<QIcon> m_statusImages;
    QString m_countLines;  // %1 waiting, %2 delivered, %3 confirmed, %4 not delivered
    QList<int> m_topLevel; // records without a parent (normally the root only)
    int m_size = 0;        // records the model shows, fixed between reloads

    std::unique_ptr<std::atomic<bool>[]> m_dirty;
    std::atomic<bool> m_allDirty{false};
    std::atomic<bool> m_flushPosted{false};
};

} // namespace plinket
