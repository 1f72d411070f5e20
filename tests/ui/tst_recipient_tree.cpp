#include "client_directory.h"
#include "recipient_tree_model.h"
#include "status_images.h"
#include "test_files.h"

#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTreeView>

using namespace plinket;

namespace {

// Records: 0 root, 1 Accounting, 2 PC-ACCOUNTING, 3 Chief accountant, 4 Payroll, 5 Payroll desk,
// 6 Cashier, 7 Warehouse, 8 Storekeeper, 9 Reception.
const char EXAMPLE[] = "\xEF\xBB\xBF;Plinket Clients v2\r\n\r\n"
                       "[+Accounting]\r\n  PC-ACCOUNTING = 192.168.0.10\r\n  Chief accountant = PC-CHIEF\r\n"
                       "[+Payroll]\r\n  Payroll desk = 192.168.0.12\r\n[-Payroll]\r\n  Cashier = 192.168.0.11\r\n"
                       "[-Accounting]\r\n\r\n[+Warehouse]\r\n  Storekeeper = PC-STORE\r\n[-Warehouse]\r\n"
                       "  Reception = 192.168.0.20\r\n";

} // namespace

class TestRecipientTree final : public QObject {
    Q_OBJECT

public:
    TestRecipientTree() { m_images = drawStatusImages(Qt::white); }

private:
    QTemporaryDir m_dir;
    QList<QIcon> m_images;
    RecipientList m_list;
    QMutex m_lock;
    std::unique_ptr<RecipientTreeModel> m_model;
    std::unique_ptr<QTreeView> m_view;

    // The check states of all records as digits 1 (unchecked), 2 (checked), 3 (partly), read from
    // the model as the tree shows them.
    QString shownStates() const {
        QString s;
        for (int i = 0; i < m_list.size(); ++i) {
            switch (m_model->indexOfRecord(i).data(Qt::CheckStateRole).value<Qt::CheckState>()) {
            case Qt::Checked:
                s += u'2';
                break;
            case Qt::PartiallyChecked:
                s += u'3';
                break;
            default:
                s += u'1';
            }
        }
        return s;
    }

    QRect checkBoxRect(int record) const {
        const QModelIndex index = m_model->indexOfRecord(record);
        QStyleOptionViewItem option;
        option.initFrom(m_view.get());
        option.rect = m_view->visualRect(index);
        option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                          QStyleOptionViewItem::HasDecoration;
        option.decorationSize = m_view->iconSize();
        return m_view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, m_view.get());
    }

private slots:
    void init() {
        QVERIFY(test::writeFileBytes(m_dir.filePath(u"clients.ini"_qs), QByteArray(EXAMPLE)));
        m_list = loadRecipients(m_dir.filePath(u"clients.ini"_qs));
        QCOMPARE(m_list.size(), 10);
        m_model = std::make_unique<RecipientTreeModel>(m_list, m_lock, u"All clients"_qs, m_images);
        m_view = std::make_unique<QTreeView>();
        m_view->setHeaderHidden(true);
        m_view->setModel(m_model.get());
        m_view->resize(300, 400);
        m_view->expandAll();
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }
    void cleanup() {
        m_view.reset();
        m_model.reset();
    }

    void structure() {
        QCOMPARE(m_model->rowCount(), 1);
        const QModelIndex root = m_model->index(0, 0);
        QCOMPARE(root.data().toString(), u"All clients"_qs);
        QCOMPARE(m_model->rowCount(root), 3);
        QCOMPARE(m_model->index(0, 0, root).data().toString(), u"Accounting"_qs);
        const QModelIndex payroll = m_model->indexOfRecord(4);
        QCOMPARE(payroll.data().toString(), u"Payroll"_qs);
        QCOMPARE(payroll.row(), 2);
        QCOMPARE(payroll.parent(), m_model->indexOfRecord(1));
        QCOMPARE(m_model->recordOf(m_model->index(0, 0, payroll)), 5);
        QCOMPARE(m_model->indexOfRecord(9).row(), 2);
        QCOMPARE(m_model->indexOfRecord(9).parent(), root);
        QCOMPARE(shownStates(), u"1111111111"_qs);
    }

    // Each step toggles one record, by a click on its box or by the space bar on the current item.
    void checking_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<bool>("spaceBar");
        QTest::addColumn<QString>("states");
        for (const bool space : {false, true}) {
            const char* how = space ? "space: " : "click: ";
            QTest::addRow("%sAccounting ticks its subtree", how) << QList<int>{1} << space << u"3222222111"_qs;
            QTest::addRow("%sAccounting, Warehouse, Reception", how)
                << QList<int>{1, 7, 9} << space << u"2222222222"_qs;
            QTest::addRow("%sall, then untick Payroll desk", how) << QList<int>{0, 5} << space << u"3322112222"_qs;
            QTest::addRow("%spartly checked root goes to unchecked", how)
                << QList<int>{1, 0} << space << u"1111111111"_qs;
            QTest::addRow("%stwice is nothing", how) << QList<int>{8, 8} << space << u"1111111111"_qs;
            QTest::addRow("%sclient alone", how) << QList<int>{8} << space << u"3111111221"_qs;
        }
    }
    void checking() {
        QFETCH(QList<int>, clicks);
        QFETCH(bool, spaceBar);
        QFETCH(QString, states);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        for (const int record : clicks) {
            if (spaceBar) {
                m_view->setCurrentIndex(m_model->indexOfRecord(record));
                QTest::keyClick(m_view.get(), Qt::Key_Space);
            } else {
                QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, checkBoxRect(record).center());
            }
        }
        QCOMPARE(shownStates(), states);
        QVERIFY(!changed.isEmpty());
        // What the tree shows is what the records hold.
        for (int i = 0; i < m_list.size(); ++i)
            QCOMPARE(QString::number(m_list.at(i).checkState), states.mid(i, 1));
    }

    // Ticking "All clients" over many collapsed groups: the tree is told in one refresh instead of a
    // range per group (each of which the view looks up among all its rows), and shows every box ticked.
    void tickOverManyGroupsIsOneRefresh() {
        QByteArray ini = "\xEF\xBB\xBF;Plinket Clients v2\r\n";
        for (int g = 0; g < 500; ++g)
            ini += "[+G" + QByteArray::number(g) + "]\r\n  A = 10.0.0.1\r\n  B = 10.0.0.2\r\n[-G]\r\n";
        QVERIFY(test::writeFileBytes(m_dir.filePath(u"clients.ini"_qs), ini));
        m_view->setModel(nullptr);
        m_list = loadRecipients(m_dir.filePath(u"clients.ini"_qs));
        m_model->reload();
        m_view->setModel(m_model.get());
        m_view->expand(m_model->index(0, 0));
        QSignalSpy ranges(m_model.get(), &QAbstractItemModel::dataChanged);
        QSignalSpy refreshes(m_model.get(), &QAbstractItemModel::layoutChanged);
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, checkBoxRect(0).center());
        QCOMPARE(refreshes.size(), 1);
        QVERIFY(ranges.size() <= 64);
        QCOMPARE(shownStates(), QString(m_list.size(), u'2'));
        m_view->expand(m_model->indexOfRecord(m_list.size() - 3)); // the last group, opened afterwards
        QCOMPARE(m_model->indexOfRecord(m_list.size() - 1).data(Qt::CheckStateRole).value<Qt::CheckState>(),
                 Qt::Checked);
    }

    void clickOnLabelChangesNothing() {
        const QRect item = m_view->visualRect(m_model->indexOfRecord(2));
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(item.right() - 3, item.center().y()));
        QCOMPARE(shownStates(), u"1111111111"_qs);
    }

    void statusImages() {
        QImage shown = m_model->indexOfRecord(3).data(Qt::DecorationRole).value<QIcon>().pixmap(10, 10).toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB888), drawStatusImage(0, Qt::white));
        {
            QMutexLocker locker(&m_lock);
            m_list.recordReport(2, STATUS_DELIVERED, u"10:00:00"_qs);
            m_list.recordReport(3, STATUS_CONFIRMED, u"10:00:01"_qs);
        }
        shown = m_model->indexOfRecord(1).data(Qt::DecorationRole).value<QIcon>().pixmap(10, 10).toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB888), drawStatusImage(3, Qt::white));
    }

    // The report listener changes records on its own thread and announces them without waiting for
    // the UI thread, even while the UI thread holds recipientsLock; the UI sees them coalesced.
    void notificationsFromAnotherThread() {
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        QThread* listener = QThread::create([this] {
            for (int round = 0; round < 50; ++round)
                m_model->notifyRecordsChanged({5, 4, 1, 0});
            m_model->notifyRecordsChanged({8, 7});
        });
        {
            QMutexLocker locker(&m_lock); // a notifier that took the lock would hang here
            listener->start();
            QVERIFY(listener->wait(10000));
        }
        delete listener;
        QTRY_VERIFY(!changed.isEmpty());
        QSet<int> seen;
        for (const QList<QVariant>& args : changed) {
            const QModelIndex first = args[0].value<QModelIndex>();
            const QModelIndex last = args[1].value<QModelIndex>();
            QCOMPARE(first.parent(), last.parent());
            for (int row = first.row(); row <= last.row(); ++row)
                seen.insert(m_model->recordOf(m_model->index(row, 0, first.parent())));
        }
        QCOMPARE(seen, (QSet<int>{0, 1, 4, 5, 7, 8}));
        // 51 notifications, all before the UI thread ran: one refresh.
        QVERIFY(changed.size() <= 6);
    }
};

QTEST_MAIN(TestRecipientTree)
#include "tst_recipient_tree.moc"
