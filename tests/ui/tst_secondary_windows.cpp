#include "ipv4_address_edit.h"
#include "layout_rules.h"
#include "secondary_windows.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

using namespace plinket;

// Stands in for the web browser: records what would have been opened.
class UrlRecorder final : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class TestSecondaryWindows final : public QObject {
    Q_OBJECT

    QWidget m_owner;
    UrlRecorder m_browser;

    template <typename T> static T* child(QWidget* window, const char* name) {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

private slots:
    void initTestCase() {
        QDesktopServices::setUrlHandler(u"https"_qs, &m_browser, "open");
        QDesktopServices::setUrlHandler(u"http"_qs, &m_browser, "open");
    }
    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(u"https"_qs);
        QDesktopServices::unsetUrlHandler(u"http"_qs);
    }

    void settingsShowsTheStoredValues_data() {
        QTest::addColumn<qint32>("enabled");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("off") << 0 << u"192.168.0.255"_qs << QStringList{u"192"_qs, u"168"_qs, u"0"_qs, u"255"_qs};
        QTest::newRow("on") << 1 << u"10.0.0.255"_qs << QStringList{u"10"_qs, u"0"_qs, u"0"_qs, u"255"_qs};
        QTest::newRow("missing") << 1 << QString() << QStringList{u"0"_qs, u"0"_qs, u"0"_qs, u"0"_qs};
        QTest::newRow("malformed") << 1 << u"10.1x"_qs << QStringList{u"10"_qs, u"1"_qs, u"0"_qs, u"0"_qs};
        QTest::newRow("hand-edited flag") << 7 << u"1.2.3.4"_qs << QStringList{u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs};
    }
    void settingsShowsTheStoredValues() {
        QFETCH(qint32, enabled);
        QFETCH(QString, stored);
        QFETCH(QStringList, shown);
        BroadcastSetting setting(BroadcastSnapshot{enabled, stored});
        SettingsWindow window(&m_owner, u"Settings"_qs, u"Use broadcast messaging"_qs, setting);
        QCOMPARE(window.objectName(), u"settingsWindow"_qs);
        QCOMPARE(window.windowTitle(), u"Settings"_qs);
        QCOMPARE(window.size(), QSize(210, 70));
        QVERIFY(!(window.windowFlags() & Qt::WindowStaysOnTopHint));
        auto* box = child<QCheckBox>(&window, "broadcastCheckBox");
        auto* field = child<Ipv4AddressEdit>(&window, "broadcastAddressField");
        QCOMPARE(box->geometry(), QRect(10, 10, 200, 20));
        QCOMPARE(field->geometry(), QRect(10, 40, 100, 20));
        QCOMPARE(box->text(), u"Use broadcast messaging"_qs);
        QCOMPARE(box->isChecked(), enabled == 1);
        QCOMPARE(field->isEnabled(), enabled == 1);
        QStringList numbers;
        for (int i = 0; i < 4; ++i)
            numbers.append(field->field(i)->text());
        QCOMPARE(numbers, shown);
        // Only showing it changes nothing.
        QCOMPARE(setting.snapshot().address, stored);
        QCOMPARE(setting.snapshot().enabled, enabled);
    }

    void settingsChangesTakeEffectAtOnce() {
        BroadcastSetting setting(BroadcastSnapshot{0, u"010.1"_qs});
        SettingsWindow window(&m_owner, u"Settings"_qs, u"Use broadcast messaging"_qs, setting);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* box = child<QCheckBox>(&window, "broadcastCheckBox");
        auto* field = child<Ipv4AddressEdit>(&window, "broadcastAddressField");

        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(setting.snapshot().enabled, 1);
        QVERIFY(field->isEnabled());
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(setting.snapshot().enabled, 0);
        QVERIFY(!field->isEnabled());
    }

    // Keys typed through the whole entry, each to whichever number has the focus: "\b" is Backspace,
    // "^" is Ctrl+V with `clipboard`. Blank numbers at the start when `stored` is null.
    void addressTakesWhatIsTyped_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("clickInto");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("expected");
        const QString typed = u"192.168.1.255"_qs;
        QTest::newRow("blank") << QString() << 0 << typed << QString() << typed;
        QTest::newRow("0.0.0.0") << u"0.0.0.0"_qs << 0 << typed << QString() << typed;
        QTest::newRow("stored address") << u"10.20.30.40"_qs << 0 << typed << QString() << typed;
        QTest::newRow("Ctrl+A first") << u"10.20.30.40"_qs << 0 << u"\x01"_qs + typed << QString() << typed;
        QTest::newRow("full numbers, zeros")
            << u"1.2.3.4"_qs << 0 << u"255.007.001.010"_qs << QString() << u"255.7.1.10"_qs;
        QTest::newRow("one number changed") << u"10.20.30.40"_qs << 2 << u"7"_qs << QString() << u"10.20.7.40"_qs;
        QTest::newRow("Backspace crosses back")
            << u"0.0.0.0"_qs << 0 << u"192.168.1.25\b\b\b\b7.9"_qs << QString() << u"192.168.7.9"_qs;
        QTest::newRow("above 255 refused") << u"0.0.0.0"_qs << 0 << u"300.1"_qs << QString() << u"30.1.0.0"_qs;
        QTest::newRow("paste") << u"10.20.30.40"_qs << 1 << u"^"_qs << u" 192.168.1.255\n"_qs << typed;
        QTest::newRow("paste of no address") << u"10.20.30.40"_qs << 1 << u"^"_qs << u"1.2.3"_qs << u"10.20.30.40"_qs;
    }
    void addressTakesWhatIsTyped() {
        QFETCH(QString, stored);
        QFETCH(int, clickInto);
        QFETCH(QString, keys);
        QFETCH(QString, clipboard);
        BroadcastSetting setting(BroadcastSnapshot{1, stored});
        SettingsWindow window(nullptr, u"Settings"_qs, u"Use broadcast messaging"_qs, setting);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* field = child<Ipv4AddressEdit>(&window, "broadcastAddressField");
        for (int i = 0; stored.isNull() && i < 4; ++i)
            field->field(i)->clear();
        QGuiApplication::clipboard()->setText(clipboard);
        QTest::mouseClick(field->field(clickInto), Qt::LeftButton);
        for (const QChar c : keys) {
            QWidget* focus = QApplication::focusWidget();
            QVERIFY(focus && focus->parent() == field);
            if (c == u'\b')
                QTest::keyClick(focus, Qt::Key_Backspace);
            else if (c == u'^' || c == u'\x01')
                QTest::keyClick(focus, c == u'^' ? Qt::Key_V : Qt::Key_A, Qt::ControlModifier);
            else
                QTest::keyClick(focus, c.toLatin1());
        }
        QTEST(setting.snapshot().address, "expected");
        QTEST(formatDottedQuad(field->address()), "expected");
    }

    void changelog() {
        ChangelogWindow window(&m_owner, u"Changelog"_qs);
        QCOMPARE(window.objectName(), u"changelogWindow"_qs);
        QCOMPARE(window.size(), QSize(700, 300));
        QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
        auto* view = child<QTextBrowser>(&window, "changelogView");
        QCOMPARE(view->geometry(), QRect(10, 10, 680, 280));
        QVERIFY(view->isReadOnly());
        QVERIFY(view->toPlainText().contains(u"1.40"_qs));
        QVERIFY(view->toPlainText().contains(u"Шаблоны"_qs));
    }

    void aboutLinksLeaveTheWindowOpen() {
        m_browser.opened.clear();
        auto* window = new AboutWindow(&m_owner, u"About"_qs, u"Donate by PayPal"_qs);
        QPointer<AboutWindow> guard(window);
        window->open();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->objectName(), u"aboutWindow"_qs);
        QCOMPARE(window->size(), QSize(250, 365));
        QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(child<QTextBrowser>(window, "aboutView")->geometry(), QRect(10, 10, 230, 285));
        QVERIFY(!child<QTextBrowser>(window, "aboutView")->toPlainText().isEmpty());
        QCOMPARE(child<QWidget>(window, "linkFrame")->geometry(), QRect(10, 295, 230, 30));
        auto* link = child<QLabel>(window, "forumLink");
        QCOMPARE(link->geometry(), QRect(65, 305, 120, 15));
        QVERIFY(link->text().contains(u"Обсуждение на "_qs));
        QVERIFY(link->text().contains(u"color:#0000ff"_qs));
        auto* donate = child<QPushButton>(window, "donateButton");
        QCOMPARE(donate->geometry(), QRect(10, 330, 230, 25));
        QCOMPARE(donate->text(), u"Donate by PayPal"_qs);

        emit link->linkActivated(FORUM_URL.toString());
        QTest::mouseClick(donate, Qt::LeftButton);
        QCOMPARE(m_browser.opened, (QList<QUrl>{FORUM_URL, DONATE_URL}));
        QVERIFY(window->isVisible());

        // Closing deletes the window.
        window->close();
        QTRY_VERIFY(guard.isNull());
    }
};

QTEST_MAIN(TestSecondaryWindows)
#include "tst_secondary_windows.moc"
