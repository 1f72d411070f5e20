#include "recipient_tree_model.h"

#include "language.h"

#include <QMetaObject>

#include <algorithm>
#include <array>

namespace plinket {

namespace {

Qt::CheckState toQtState(quint8 state) {
    switch (state) {
    case CHECK_CHECKED:
        return Qt::Checked;
    case CHECK_PARTIAL:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

} // namespace

RecipientTreeModel::RecipientTreeModel(RecipientList& records, QMutex& lock, QString rootLabel,
                                       QList<QIcon> statusImages, QObject* parent)
    : QAbstractItemModel(parent), m_records(records), m_lock(lock), m_rootLabel(std::move(rootLabel)),
      m_statusImages(std::move(statusImages)) {
    const QString& code = text(TextId::languageCode);
    m_countLines = (code == LANGUAGE_EN ? u"Waiting: %1"_qs : u"Ожидают ответа: %1"_qs) + u"\n"_qs +
                   textIn(code, TextId::statusDelivered) + u": %2\n"_qs + textIn(code, TextId::statusConfirmed) +
                   u": %3\n"_qs + textIn(code, TextId::statusNotDelivered) + u": %4"_qs;
    reload();
}

RecipientTreeModel::~RecipientTreeModel() = default;

void RecipientTreeModel::reload() {
    beginResetModel();
    {
        QMutexLocker locker(&m_lock);
        m_size = m_records.size();
        m_topLevel.clear();
        for (int i = 0; i < m_size; ++i) {
            if (m_records.at(i).parentIndex < 0)
                m_topLevel.append(i);
        }
    }
    m_dirty = std::make_unique<std::atomic<bool>[]>(static_cast<size_t>(m_size));
    for (int i = 0; i < m_size; ++i)
        m_dirty[static_cast<size_t>(i)].store(false, std::memory_order_relaxed);
    m_allDirty = false;
    endResetModel();
}

QModelIndex RecipientTreeModel::indexOfRecord(int record) const {
    if (record < 0 || record >= m_size)
        return {};
    const int parent = m_records.at(record).parentIndex;
    const int row = parent < 0 ? static_cast<int>(m_topLevel.indexOf(record)) : m_records.rowInParent(record);
    return createIndex(row, 0, static_cast<quintptr>(record));
}

int RecipientTreeModel::recordOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<int>(index.internalId()) : -1;
}

QModelIndex RecipientTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < m_topLevel.size() ? createIndex(row, 0, static_cast<quintptr>(m_topLevel[row])) : QModelIndex();
    const QList<int>& children = m_records.children(recordOf(parent));
    return row < children.size() ? createIndex(row, 0, static_cast<quintptr>(children[row])) : QModelIndex();
}

QModelIndex RecipientTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid())
        return {};
    return indexOfRecord(m_records.at(recordOf(child)).parentIndex);
}

int RecipientTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return static_cast<int>(m_topLevel.size());
    if (parent.column() != 0)
        return 0;
    return static_cast<int>(m_records.children(recordOf(parent)).size());
}

int RecipientTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant RecipientTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const int record = recordOf(index);
    // The structure and the names never change after loading; only the check and delivery fields
    // are written by other threads, so only those are read under the lock.
    switch (role) {
    case Qt::DisplayRole:
        return record == 0 ? m_rootLabel : m_records.at(record).name;
    case Qt::ToolTipRole:
        return m_records.at(record).isGroup ? groupTooltip(record) : clientTooltip(record);
    case Qt::CheckStateRole: {
        QMutexLocker locker(&m_lock);
        return toQtState(m_records.at(record).checkState);
    }
    case Qt::DecorationRole: {
        quint8 status;
        {
            QMutexLocker locker(&m_lock);
            status = m_records.at(record).deliveryStatus;
        }
        return m_statusImages.value(status & 7);
    }
    default:
        return {};
    }
}

QString RecipientTreeModel::clientTooltip(int record) const {
    ReportTrust trust;
    QByteArray keyId;
    {
        QMutexLocker locker(&m_lock);
        trust = m_records.at(record).reportTrust;
        keyId = m_records.at(record).reportKeyId;
    }
    const bool english = text(TextId::languageCode) == LANGUAGE_EN;
    QString tip = m_records.at(record).host;
    if (m_listeningLine)
        if (const QString line = m_listeningLine({m_records.at(record).host}, false); !line.isEmpty())
            tip += u'\n' + line;
    // Whether the workstation itself vouched for its last report (a signature by its pinned key).
    if (trust == ReportTrust::Verified)
        tip += (english ? u"\nReport verified: signed by the workstation's key "_qs
                        : u"\nОтчёт проверен: подписан ключом рабочей станции "_qs) +
               QString::fromLatin1(keyId);
    else if (trust == ReportTrust::Unverified)
        tip += english ? u"\nReport NOT verified: not signed by the key known for this workstation"_qs
                       : u"\nОтчёт НЕ проверен: не подписан ключом, известным для этой рабочей станции"_qs;
    return tip;
}

QString RecipientTreeModel::groupTooltip(int record) const {
    std::array<int, 4> counts{}; // waiting, delivered, confirmed, not delivered
    QStringList hosts;
    {
        QMutexLocker locker(&m_lock);
        for (int i = record + 1; i < m_records.subtreeEnd(record); ++i) {
            const RecipientRecord& r = m_records.at(i);
            if (r.isGroup)
                continue;
            if (m_listeningLine)
                hosts.append(r.host);
            switch (r.deliveryStatus) {
            case STATUS_WAITING:
                counts[0] += r.messageId != 0; // unticked clients were not sent to: nobody waits for them
                break;
            case STATUS_DELIVERED:
                ++counts[1];
                break;
            case STATUS_CONFIRMED:
                ++counts[2];
                break;
            case STATUS_NOT_DELIVERED:
                ++counts[3];
                break;
            }
        }
    }
    QString tip = (record == 0 ? m_rootLabel : m_records.at(record).name) + u'\n' +
                  m_countLines.arg(counts[0]).arg(counts[1]).arg(counts[2]).arg(counts[3]);
    if (m_listeningLine && !hosts.isEmpty())
        if (const QString line = m_listeningLine(hosts, true); !line.isEmpty())
            tip += u'\n' + line;
    return tip;
}

bool RecipientTreeModel::setData(const QModelIndex& index, const QVariant&, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole)
        return false;
    const int record = recordOf(index);
    ChangedRecords changed;
    {
        QMutexLocker locker(&m_lock);
        changed = m_records.toggleCheck(record);
    }
    changed.append(record);
    // The records below a group come in ascending order, followed by the few ancestors: sorting only
    // that tail and merging keeps a tick of "All clients" linear in the records it changed.
    const auto tail = std::is_sorted_until(changed.begin(), changed.end());
    std::sort(tail, changed.end());
    std::inplace_merge(changed.begin(), tail, changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    emitChanged(changed);
    emit recordToggled(record);
    return true;
}

void RecipientTreeModel::checkOnly(const std::function<bool(const RecipientRecord&)>& wanted) {
    ChangedRecords changed;
    {
        QMutexLocker locker(&m_lock);
        changed = m_records.checkOnly(wanted);
    }
    emitChanged(changed);
}

bool RecipientTreeModel::anyRecord(const std::function<bool(const RecipientRecord&)>& wanted) const {
    QMutexLocker locker(&m_lock);
    return std::any_of(m_records.records().begin(), m_records.records().end(), wanted);
}

Qt::ItemFlags RecipientTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

void RecipientTreeModel::notifyRecordsChanged(const ChangedRecords& records) {
    if (!m_dirty)
        return;
    for (const int r : records) {
        if (r >= 0 && r < m_size)
            m_dirty[static_cast<size_t>(r)].store(true, std::memory_order_relaxed);
    }
    if (!m_flushPosted.exchange(true, std::memory_order_acq_rel))
        QMetaObject::invokeMethod(this, &RecipientTreeModel::flushChanges, Qt::QueuedConnection);
}

void RecipientTreeModel::notifyAllRecordsChanged() {
    m_allDirty.store(true, std::memory_order_relaxed);
    if (!m_flushPosted.exchange(true, std::memory_order_acq_rel))
        QMetaObject::invokeMethod(this, &RecipientTreeModel::flushChanges, Qt::QueuedConnection);
}

void RecipientTreeModel::flushChanges() {
    // Cleared first, by a read-modify-write that synchronises with every notifier whose own
    // exchange came before it (so their flags are visible to the scan); a notification arriving
    // after this point posts the next refresh.
    m_flushPosted.exchange(false, std::memory_order_acq_rel);
    const bool all = m_allDirty.exchange(false, std::memory_order_relaxed);
    QList<int> changed;
    for (int i = 0; i < m_size; ++i) {
        if (m_dirty[static_cast<size_t>(i)].exchange(false, std::memory_order_relaxed) || all)
            changed.append(i);
    }
    emitChanged(changed);
}

void RecipientTreeModel::emitChanged(const QList<int>& sortedRecords) {
    static const QList<int> roles{Qt::CheckStateRole, Qt::DecorationRole};
    // Runs of siblings with consecutive rows become one range each.
    QList<std::pair<QModelIndex, QModelIndex>> ranges;
    qsizetype i = 0;
    while (i < sortedRecords.size()) {
        const int first = sortedRecords[i];
        const int parent = m_records.at(first).parentIndex;
        const QModelIndex firstIndex = indexOfRecord(first);
        QModelIndex lastIndex = firstIndex;
        qsizetype j = i + 1;
        while (j < sortedRecords.size()) {
            const QModelIndex next = indexOfRecord(sortedRecords[j]);
            if (m_records.at(sortedRecords[j]).parentIndex != parent || next.row() != lastIndex.row() + 1)
                break;
            lastIndex = next;
            ++j;
        }
        ranges.append({firstIndex, lastIndex});
        if (ranges.size() > MAX_CHANGED_RANGES) {
            // A tree view looks each range up among its shown rows, all of them for a range inside a
            // collapsed group: ticking "All clients" in 37,500 groups cost 54 s that way. Past a few
            // ranges, one refresh of the shown rows (nothing moves) costs the view far less.
            emit layoutAboutToBeChanged({}, QAbstractItemModel::NoLayoutChangeHint);
            emit layoutChanged({}, QAbstractItemModel::NoLayoutChangeHint);
            return;
        }
        i = j;
    }
    for (const auto& [first, last] : ranges)
        emit dataChanged(first, last, roles);
}

} // namespace plinket
