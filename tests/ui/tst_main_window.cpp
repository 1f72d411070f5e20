#include "language.h"
#include "proportional_splitter.h"
#include "window_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitterHandle>
#include <QToolTip>
#include <QTreeView>

using namespace plinket;
using plinket::test::WindowFixture;

class TestMainWindow final : public QObject {
    Q_OBJECT

    static QRect geometryOf(const WindowFixture& f, const char* name) {
        const QWidget* w = f.child<QWidget>(name);
        return w ? w->geometry() : QRect();
    }

private slots:
    void namesAndTitle() {
        WindowFixture f;
        QCOMPARE(f.window->objectName(), u"mainWindow"_qs);
        QCOMPARE(f.window->windowTitle(), u"Plinket Server v1.40"_qs);
        for (const char* name : {"messageEditor", "templateList", "recipientTree", "editorSplitter", "paneSplitter",
                                 "timeoutPanel", "timeoutSpin", "unitCombo", "sendButton", "saveTemplateButton",
                                 "menuButton", "editorMenu", "templateMenu", "mainMenu"})
            QVERIFY2(f.child<QObject>(name), name);
        QCOMPARE(f.window->minimumSize(), QSize(455, 200));
    }

    void layout_data() {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QRect>("pane");
        QTest::addColumn<int>("rowY");
        QTest::addColumn<int>("editorHeight"); // position of editorSplitter
        QTest::addColumn<int>("leftWidth");    // position of paneSplitter
        QTest::newRow("default size") << QSize(455, 200) << QRect(10, 10, 435, 130) << 150 << 80 << 260;
        // Second parts keep their share: 171 of 431 and 46 of 126.
        QTest::newRow("grown") << QSize(700, 500) << QRect(10, 10, 680, 430) << 450 << 271 << 408;
        QTest::newRow("below the minimum") << QSize(300, 100) << QRect(10, 10, 435, 130) << 150 << 80 << 260;
    }
    void layout() {
        QFETCH(QSize, client);
        QFETCH(QRect, pane);
        QFETCH(int, rowY);
        QFETCH(int, editorHeight);
        QFETCH(int, leftWidth);
        WindowFixture f;
        f.window->applyGeometry(WindowGeometry{});
        QVERIFY(f.showAndWait());
        f.window->resize(client);
        QTRY_COMPARE(geometryOf(f, "paneSplitter"), pane);
        QCOMPARE(geometryOf(f, "timeoutPanel"), QRect(10, rowY, 45, 40));
        QCOMPARE(geometryOf(f, "sendButton"), QRect(65, rowY, 160, 40));
        QCOMPARE(geometryOf(f, "saveTemplateButton"), QRect(235, rowY, 160, 40));
        QCOMPARE(geometryOf(f, "menuButton"), QRect(405, rowY, 40, 40));
        QCOMPARE(geometryOf(f, "timeoutSpin"), QRect(0, 0, 45, 20));
        QCOMPARE(geometryOf(f, "unitCombo"), QRect(0, 20, 45, 20));
        QCOMPARE(f.child<QWidget>("messageEditor")->height(), editorHeight);
        QCOMPARE(f.child<QWidget>("editorSplitter")->width(), leftWidth);
        QCOMPARE(f.child<QWidget>("recipientTree")->width(), pane.width() - 4 - leftWidth);
        QCOMPARE(f.child<QWidget>("templateList")->height(), pane.height() - 4 - editorHeight);
        const WindowGeometry now = f.window->currentGeometry();
        QCOMPARE(QSize(now.width, now.height), pane.size() + QSize(20, 70));
        QCOMPARE(now.splitterHoriz, editorHeight);
        QCOMPARE(now.splitterVertc, leftWidth);
    }

    void restoredGeometry() {
        WindowFixture f;
        const QPoint centred = f.window->pos();
        f.window->applyGeometry(WindowGeometry{NO_POSITION, 70, 600, 300, 30, 400});
        QCOMPARE(f.window->pos(), centred); // one coordinate missing keeps the centred place
        QCOMPARE(f.window->size(), QSize(600, 300));
        QCOMPARE(f.window->currentGeometry().splitterHoriz, 30);
        QCOMPARE(f.window->currentGeometry().splitterVertc, 400);
        QVERIFY(f.showAndWait());
        // Shown, the splitters still stand where the settings put them.
        QCOMPARE(f.window->currentGeometry().splitterHoriz, 30);
        QCOMPARE(f.window->currentGeometry().splitterVertc, 400);
        f.window->applyGeometry(WindowGeometry{40, 50, 455, 200, 80, 260});
        QCOMPARE(f.window->pos(), QPoint(40, 50));
    }

    void dragResetsTheProportion() {
        WindowFixture f;
        f.window->applyGeometry(WindowGeometry{});
        QVERIFY(f.showAndWait());
        auto* pane = f.child<ProportionalSplitter>("paneSplitter");
        QSplitterHandle* handle = pane->handle(1);
        const QPoint grip(handle->width() / 2, handle->height() / 2);
        QTest::mousePress(handle, Qt::LeftButton, {}, grip);
        QTest::mouseMove(handle, grip - QPoint(60, 0));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(60, 0));
        QCOMPARE(pane->position(), 200);
        // Now 231 of 431 is the second part's share: at 680 wide it gets floor(676 * 231 / 431).
        f.window->resize(700, 500);
        QTRY_COMPARE(pane->width(), 680);
        QCOMPARE(pane->position(), 676 - 676 * 231 / 431);
    }

    // Ctrl+Enter works from every control of the window, the editor included, and types nothing.
    void ctrlEnterSendsLikeTheButton_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        for (const char* name : {"messageEditor", "templateList", "recipientTree", "timeoutSpin", "unitCombo",
                                 "saveTemplateButton", "menuButton"})
            QTest::newRow(name) << QString::fromLatin1(name) << int(Qt::Key_Return);
        QTest::newRow("messageEditor, keypad Enter") << u"messageEditor"_qs << int(Qt::Key_Enter);
    }
    void ctrlEnterSendsLikeTheButton() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        WindowFixture f;
        QVERIFY(f.showAndWait());
        f.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        auto* editor = f.child<QPlainTextEdit>("messageEditor");
        editor->setFocus();
        QTest::keyClicks(editor, u"Lunch"_qs);
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::keyClicks(editor, u"now"_qs);
        QWidget* control = f.window->findChild<QWidget*>(focus);
        control->setFocus();
        QTest::keyClick(control, Qt::Key(key), Qt::ControlModifier);
        // The click is queued: the focus moves first, the send follows.
        QVERIFY(f.child<QWidget>("sendButton")->hasFocus());
        QTRY_COMPARE(f.controller.sent, QStringList{u"Lunch\r\nnow"_qs});
        QCOMPARE(editor->toPlainText(), u"Lunch\nnow"_qs); // Ctrl+Enter inserted nothing
        QCOMPARE(f.child<QSpinBox>("timeoutSpin")->value(), 5);

        QTest::mouseClick(f.child<QWidget>("sendButton"), Qt::LeftButton);
        QCOMPARE(f.controller.sent.size(), 2);
    }

    void secondaryWindowSuspendsTheMainWindow() {
        WindowFixture f;
        QVERIFY(f.showAndWait());
        QWidget* about = f.window->showAboutWindow();
        QVERIFY(about);
        QCOMPARE(f.window->secondaryWindow(), about);
        QVERIFY(!f.window->showSettingsWindow()); // one at a time

        // Ctrl+Enter, a click on Send and the timer's expiry are all dropped.
        QTest::keyClick(f.child<QWidget>("messageEditor"), Qt::Key_Return, Qt::ControlModifier);
        QTest::mouseClick(f.child<QWidget>("sendButton"), Qt::LeftButton);
        QTest::mouseClick(f.child<QWidget>("menuButton"), Qt::LeftButton);
        f.window->deliveryTimer().start(1);
        QTest::qWait(30);
        QCOMPARE(f.controller.sent.size(), 0);
        QCOMPARE(f.controller.expiries, 0);
        QVERIFY(!f.window->mainMenu()->isVisible());

        // Closing the main window closes only the secondary one.
        QSignalSpy closed(f.window.get(), &MainWindow::closeAccepted);
        QVERIFY(!f.window->close());
        QTRY_VERIFY(!f.window->secondaryWindow());
        QVERIFY(f.window->isVisible());
        QCOMPARE(closed.size(), 0);
        QCOMPARE(f.controller.closings, 0);

        // The timer kept repeating: the next expiry reaches the messaging code.
        QTRY_VERIFY(f.controller.expiries > 0);
        f.window->deliveryTimer().stop();
        QTest::mouseClick(f.child<QWidget>("sendButton"), Qt::LeftButton);
        QCOMPARE(f.controller.sent.size(), 1);

        QVERIFY(f.window->close());
        QCOMPARE(closed.size(), 1);
        QCOMPARE(f.controller.closings, 1);
    }

    // A Send that reached nobody is told at the Send button, until the next Send.
    void sendNote() {
        WindowFixture f;
        QVERIFY(f.showAndWait());
        auto* send = f.child<QPushButton>("sendButton");
        const QString note = u"Nothing was sent: no recipient is ticked."_qs;
        f.window->showSendNote(note);
        QTRY_COMPARE(QToolTip::text(), note);
        QCOMPARE(send->toolTip(), note + u"\nKeyboard shortcut: Ctrl+Enter"_qs);
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(send->toolTip(), u"Keyboard shortcut: Ctrl+Enter"_qs);
    }

    // A group's tooltip counts its clients at every depth by state; the one on screen follows the
    // reports. Waiting counts clients sent to (carrying the id) without a report.
    void groupTooltipCountsClients() {
        (void)applyLanguage(u"EN"_qs); // the language the tree's words are taken in
        WindowFixture f({}, u"EN",
                        test::BOM + ";Plinket Clients v2\r\n[+Shop]\r\nA=1.1.1.1\r\nB=1.1.1.2\r\n"
                                    "[+Back]\r\nC=1.1.1.3\r\nD=1.1.1.4\r\n[-Back]\r\n[-Shop]\r\n");
        QVERIFY(f.showAndWait());
        for (int record : {2, 3, 5}) // A, B, C sent to; D was not ticked
            f.recipients.setMessageId(record, 7);
        f.recipients.recordReport(2, STATUS_DELIVERED, u"10:00:00"_qs);
        f.recipients.recordReport(5, STATUS_NOT_DELIVERED, u"10:00:00"_qs);
        auto* tree = f.child<QTreeView>("recipientTree");
        const QPoint at = tree->visualRect(f.model->indexOfRecord(1)).center();
        QCursor::setPos(tree->viewport()->mapToGlobal(at));
        QHelpEvent hover(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(tree->viewport(), &hover);
        QTRY_COMPARE(QToolTip::text(), u"Shop\nWaiting: 1\nDelivered: 1\nConfirmed: 0\nNot delivered: 1"_qs);
        f.model->notifyRecordsChanged(f.recipients.recordReport(3, STATUS_CONFIRMED, u"10:00:01"_qs));
        QTRY_COMPARE(QToolTip::text(), u"Shop\nWaiting: 0\nDelivered: 1\nConfirmed: 1\nNot delivered: 1"_qs);

        // Who is listening: the line for the group's clients at every depth, or for a client's own host; an
        // answer arriving (a change of record 0) refreshes the tooltip on screen.
        QString answered = u"none"_qs;
        f.model->setListeningLine([&answered](const QStringList& hosts, bool group) -> QString {
            return (group ? u"group "_qs : u"client "_qs) + hosts.join(u',') + u": "_qs + answered;
        });
        f.model->notifyRecordsChanged({0});
        QTRY_COMPARE(QToolTip::text(), u"Shop\nWaiting: 0\nDelivered: 1\nConfirmed: 1\nNot delivered: 1\n"
                                       "group 1.1.1.1,1.1.1.2,1.1.1.3,1.1.1.4: none"_qs);
        answered = u"all"_qs;
        f.model->notifyRecordsChanged({0});
        QTRY_VERIFY(QToolTip::text().endsWith(u"1.1.1.4: all"_qs));
        QCOMPARE(f.model->data(f.model->indexOfRecord(6), Qt::ToolTipRole).toString(),
                 u"1.1.1.4\nclient 1.1.1.4: all"_qs);
    }

    void timeoutControls() {
        WindowFixture f;
        auto* spin = f.child<QSpinBox>("timeoutSpin");
        auto* combo = f.child<QComboBox>("unitCombo");
        QCOMPARE(spin->value(), 5);
        QCOMPARE(combo->currentIndex(), 1);
        QCOMPARE(spin->minimum(), 0);
        QCOMPARE(spin->maximum(), 100);
        spin->setValue(42);
        combo->setCurrentIndex(2);
        QCOMPARE(f.window->waitCount(), 42);
        QCOMPARE(f.window->waitUnit(), 2);
    }

    void closeStoresTheWindowState() {
        WindowFixture f;
        f.broadcast.setEnabled(1);
        f.broadcast.setAddress(u"10.0.0.255"_qs);
        f.window->applyGeometry(WindowGeometry{30, 40, 500, 250, 90, 270});
        QVERIFY(f.showAndWait());
        f.window->resize(600, 300);
        f.child<QSpinBox>("timeoutSpin")->setValue(0);
        f.child<QComboBox>("unitCombo")->setCurrentIndex(0);
        ServerSettings settings;
        settings.language = u"EN"_qs;
        storeWindowState(*f.window, f.broadcast, settings);
        QCOMPARE(settings.windowPosX, f.window->pos().x());
        QCOMPARE(settings.windowPosY, f.window->pos().y());
        QCOMPARE(settings.windowWidth, 600);
        QCOMPARE(settings.windowHeight, 300);
        QCOMPARE(settings.splitterHoriz, f.child<QWidget>("messageEditor")->height());
        QCOMPARE(settings.splitterVertc, f.child<QWidget>("editorSplitter")->width());
        QCOMPARE(settings.waitCount, 0);
        QCOMPARE(settings.waitUnit, 0);
        QCOMPARE(settings.broadcastEnabled, 1);
        QCOMPARE(settings.broadcastAddress, u"10.0.0.255"_qs);
        QCOMPARE(settings.language, u"EN"_qs);
    }

    void captions_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("EN") << u"EN"_qs
                            << QStringList{u"Send message"_qs,
                                           u"Save template"_qs,
                                           u"Keyboard shortcut: Ctrl+Enter"_qs,
                                           u"Template syntax: \"header\" message body"_qs,
                                           u"Cut|Copy|Paste"_qs,
                                           u"Remove"_qs,
                                           u"Settings|Changelog|About"_qs,
                                           u"Tick only the not delivered|Tick only the unconfirmed"_qs,
                                           u"sec|min|hrs"_qs};
        QTest::newRow("RU") << u"RU"_qs
                            << QStringList{u"Послать сообщение"_qs,
                                           u"Сохранить шаблон"_qs,
                                           u"Быстрая отправка: Ctrl+Enter"_qs,
                                           u"Формат шаблона: \"Заголовок\" тело сообщения (можно многострочное)"_qs,
                                           u"Вырезать|Копировать|Вставить"_qs,
                                           u"Удалить"_qs,
                                           u"Настройки|История изменений|О программе"_qs,
                                           u"Отметить только недоставленные|Отметить только неподтверждённые"_qs,
                                           u"сек|мин|час"_qs};
    }
    void captions() {
        QFETCH(QString, language);
        QFETCH(QStringList, expected);
        WindowFixture f({}, language);
        auto actions = [](const QMenu* menu) {
            QStringList texts;
            for (const QAction* a : menu->actions())
                texts.append(a->text());
            return texts.join(u'|');
        };
        auto* combo = f.child<QComboBox>("unitCombo");
        QStringList units;
        for (int i = 0; i < combo->count(); ++i)
            units.append(combo->itemText(i));
        const QStringList shown{f.child<QPushButton>("sendButton")->text(),
                                f.child<QPushButton>("saveTemplateButton")->text(),
                                f.child<QPushButton>("sendButton")->toolTip(),
                                f.child<QPushButton>("saveTemplateButton")->toolTip(),
                                actions(f.window->editorMenu()),
                                actions(f.window->templateMenu()),
                                actions(f.window->mainMenu()),
                                actions(f.window->recipientMenu()),
                                units.join(u'|')};
        QCOMPARE(shown, expected);
        QCOMPARE(f.window->windowTitle(), u"Plinket Server v1.40"_qs);
        for (const QMenu* menu : {f.window->editorMenu(), f.window->templateMenu()})
            for (const QAction* a : menu->actions())
                QVERIFY(!a->icon().isNull());
        for (const QAction* a : f.window->mainMenu()->actions())
            QVERIFY(a->icon().isNull());
    }

    void treeShowsTheDirectory() {
        WindowFixture f({}, u"EN",
                        "\xEF\xBB\xBF;Plinket Clients v2\r\n\r\n[+Office]\r\n  PC-1 = 10.0.0.1\r\n[-Office]\r\n");
        QVERIFY(f.showAndWait());
        auto* tree = f.child<QTreeView>("recipientTree");
        const QModelIndex root = tree->model()->index(0, 0);
        QCOMPARE(root.data().toString(), u"All clients"_qs);
        QVERIFY(tree->isExpanded(root));
        QVERIFY(!tree->isExpanded(tree->model()->index(0, 0, root)));
        // Space on the current item ticks it; the tree shows the change at once.
        tree->setFocus();
        tree->setCurrentIndex(tree->model()->index(0, 0, root));
        QTest::keyClick(tree, Qt::Key_Space);
        QCOMPARE(root.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
        QCOMPARE(f.recipients.at(2).checkState, CHECK_CHECKED);
    }

    // After a round with mixed results the tree's menu ticks only the clients to reach again; the
    // groups follow. Records: 0 root, 1 Shop, 2 CONF, 3 DELIV, 4 NOTDEL, 5 Back, 6 SILENT, 7 OTHER.
    void tickOnlyTheMissed_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("ticks"); // check state per record, as the tree shows it
        QTest::newRow("not delivered") << 0 << u"33112222"_qs;
        QTest::newRow("unconfirmed") << 1 << u"33122222"_qs;
    }
    void tickOnlyTheMissed() {
        QFETCH(int, item);
        QFETCH(QString, ticks);
        WindowFixture f({}, u"EN",
                        "\xEF\xBB\xBF;Plinket Clients v2\r\n[+Shop]\r\n  CONF = 10.0.0.1\r\n  DELIV = 10.0.0.2\r\n"
                        "  NOTDEL = 10.0.0.3\r\n  [+Back]\r\n    SILENT = 10.0.0.4\r\n  [-Back]\r\n[-Shop]\r\n"
                        "  OTHER = 10.0.0.5\r\n");
        QVERIFY(f.showAndWait());
        auto* tree = f.child<QTreeView>("recipientTree");
        tree->expandAll();
        QMenu* menu = f.window->recipientMenu();
        const auto openMenu = [&] {
            const QPoint at = tree->visualRect(f.model->indexOfRecord(7)).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
            QApplication::sendEvent(tree->viewport(), &event);
            return QTest::qWaitForWindowExposed(menu);
        };
        // Before any round nothing qualifies.
        QVERIFY(openMenu());
        QVERIFY(!menu->actions()[item]->isEnabled());
        menu->close();
        {
            // The round sent to the four shop clients (OTHER was ticked and got "Not delivered" with
            // them): CONF confirmed, DELIV delivered, NOTDEL and OTHER not delivered, SILENT not yet heard of.
            QMutexLocker lock(&f.lock);
            for (const int i : {2, 3, 4, 6})
                f.recipients.setMessageId(i, 7);
            f.recipients.recordReport(2, STATUS_CONFIRMED, u"14:05:09"_qs);
            f.recipients.recordReport(3, STATUS_DELIVERED, u"14:05:02"_qs);
            f.recipients.propagateToAncestors(4, STATUS_NOT_DELIVERED, PropagationMode::Icons);
            f.recipients.propagateToAncestors(7, STATUS_NOT_DELIVERED, PropagationMode::Icons);
            f.recipients.applyCheck(2, CHECK_CHECKED);
        }
        QVERIFY(openMenu());
        QAction* action = menu->actions()[item];
        QVERIFY(action->isEnabled());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        QString shown;
        for (int i = 0; i < 8; ++i) {
            const auto state = f.model->indexOfRecord(i).data(Qt::CheckStateRole).value<Qt::CheckState>();
            shown += state == Qt::Checked ? u'2' : state == Qt::PartiallyChecked ? u'3' : u'1';
        }
        QCOMPARE(shown, ticks);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
