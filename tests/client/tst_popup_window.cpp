#include "popup_layout.h"
#include "popup_texts.h"
#include "popup_window.h"
#include "widget_popup.h"

#include <QFontInfo>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include <memory>

using namespace plinket;

namespace {

QRect screenRect() {
    return QGuiApplication::primaryScreen()->geometry();
}

std::unique_ptr<PopupWindow> makeWindow(const QString& text, const QString& title = u"Message"_qs) {
    return std::make_unique<PopupWindow>(title, normalizeLineBreaks(text), popupFont());
}

QStringList blockTexts(const QTextDocument* document) {
    QStringList lines;
    for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

// A message just arrived, as the receive loop hands it to the pop-up.
IncomingMessage messageFor(const QString& lang, const QString& text) {
    IncomingMessage message;
    message.arrivedAtMs = QDateTime::currentMSecsSinceEpoch();
    message.fields = {lang, u"1"_qs, text, u"ADMIN-PC"_qs};
    return message;
}

// The OK button in screen coordinates.
QRect okOnScreen(const PopupWindow& window) {
    const QPushButton* ok = window.okButton();
    return QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size());
}

} // namespace

class TestPopupWindow final : public QObject {
    Q_OBJECT

private slots:
    void fontIsArialBold() {
        const QFont font = popupFont();
        QCOMPARE(font.family(), u"Arial"_qs);
        QCOMPARE(font.pointSize(), 10);
        QCOMPARE(font.weight(), QFont::Bold);
        // fonts-liberation gives Arial its metric-compatible stand-in.
        const QString resolved = QFontInfo(font).family();
        QVERIFY2(resolved == u"Arial" || resolved == u"Liberation Sans", qPrintable(resolved));
    }

    void windowKind() {
        const auto window = makeWindow(u"Hello"_qs);
        const Qt::WindowFlags flags = window->windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window); // a top-level window with a taskbar entry
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(flags & Qt::CustomizeWindowHint);
        QVERIFY(flags & Qt::WindowTitleHint);
        QVERIFY(!(flags & Qt::WindowCloseButtonHint));
        QVERIFY(!(flags & Qt::WindowSystemMenuHint));
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(window->minimumSize(), window->maximumSize()); // not resizable
        QVERIFY(!window->isVisible());                          // built hidden
        QCOMPARE(window->okButton()->text(), u"OK"_qs);
        QCOMPARE(window->textControl()->font(), popupFont());
    }

    void geometry_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("widerThanText"); // the OK button or the title sets the width, not the text
        QTest::newRow("one line") << u"Printer on floor 2 is out of paper"_qs << u"Message"_qs << false;
        QTest::newRow("very short") << u"Hi"_qs << u"Message"_qs << true;
        QTest::newRow("empty") << QString() << u"Message"_qs << true;
        QTest::newRow("russian") << u"Обед"_qs << u"Сообщение"_qs << true;
        QTest::newRow("no title") << u"Lunch"_qs << QString() << true;
        QTest::newRow("several lines") << u"Line one\r\nThe second line\r\nthree"_qs << u"Message"_qs << true;
        QTest::newRow("longer than the title")
            << u"A line of text longer than any title with its room"_qs << u"Message"_qs << false;
    }
    void geometry() {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(bool, widerThanText);
        const auto window = makeWindow(text, title);
        const QString shown = normalizeLineBreaks(text);

        // The text control: the text measured in the pop-up font, plus the two edges on each side.
        const QSize measured = measureText(shown, popupFont(), 10000);
        const QSize w = window->textControl()->size();
        QCOMPARE(w, measured + QSize(2 * TEXT_EDGE, 2 * TEXT_EDGE));
        // The measure is the widest line, and every line counts in the height.
        const QFontMetrics metrics(popupFont());
        int widest = 0;
        for (const QString& line : shown.split(u'\n'))
            widest = std::max(widest, metrics.boundingRect(QRect(), Qt::AlignLeft, line).width());
        QVERIFY2(qAbs(measured.width() - widest) <= 2, qPrintable(u"%1 vs %2"_qs.arg(measured.width()).arg(widest)));
        QVERIFY(measured.height() >= (shown.count(u'\n') + 1) * metrics.height() - 1);

        // The window: 55 taller than the text control, and 20 wider, unless that would not show the whole
        // OK button with its margins or the title word between the title bar's icon and buttons.
        const QSize client = window->size();
        QCOMPARE(client.height(), w.height() + 55);
        const int titleWord = QFontMetrics(windowTitleFont()).horizontalAdvance(title);
        const int narrowest = std::max({w.width() + 20, 90 + 2 * 10, titleWord + 2 * TITLE_SIDE_ROOM});
        QCOMPARE(client.width(), narrowest);
        QCOMPARE(client.width() > w.width() + 20, widerThanText);
        // The text centred by integer halves, 10 from the top; OK 90 x 25 centred, 35 above the bottom.
        QCOMPARE(window->textControl()->pos(), QPoint(client.width() / 2 - w.width() / 2, 10));
        QCOMPARE(window->okButton()->geometry(), QRect(client.width() / 2 - 45, client.height() - 35, 90, 25));
        // Centred on the primary screen by its client size.
        const QRect screen = screenRect();
        QCOMPARE(window->pos(), screen.topLeft() + QPoint(screen.width() / 2 - client.width() / 2,
                                                          screen.height() / 2 - client.height() / 2));
        QCOMPARE(window->textControl()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    }

    void controlsFollowTheSizeObtained() {
        // When the system imposes a larger window, text and OK stay centred on the size it gave.
        const auto window = makeWindow(u"Hi"_qs);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->setFixedSize(300, 140);
        const QSize w = window->textControl()->size();
        QCOMPARE(window->textControl()->pos(), QPoint(150 - w.width() / 2, 10));
        QCOMPARE(window->okButton()->geometry(), QRect(105, 105, 90, 25));
    }

    void textShownLiterally_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("markup") << u"<b>R&D</b>"_qs;
        QTest::newRow("mnemonic") << u"&Save"_qs;
        QTest::newRow("double ampersand") << u"Tom && Jerry"_qs;
        QTest::newRow("entity") << u"&amp; &lt;i&gt;"_qs;
        QTest::newRow("html document") << u"<html><body><h1>Big</h1><img src=x></body></html>"_qs;
    }
    void textShownLiterally() {
        QFETCH(QString, text);
        const auto window = makeWindow(text);
        QTextDocument* document = window->textControl()->document();
        QCOMPARE(document->toPlainText(), text);
        // One run of text in the pop-up font: nothing was read as formatting, a link or an image.
        const QTextBlock block = document->begin();
        QCOMPARE(document->blockCount(), 1);
        int fragments = 0;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            ++fragments;
            const QTextCharFormat format = it.fragment().charFormat();
            QVERIFY(!format.hasProperty(QTextFormat::FontWeight));
            QVERIFY(!format.isAnchor());
            QVERIFY(!format.isImageFormat());
        }
        QCOMPARE(fragments, 1);
        // Measured as typed: every "&" takes its room (a mnemonic would take one "&" away, about 10 pixels).
        const int typed = QFontMetrics(popupFont()).boundingRect(QRect(), Qt::AlignLeft, text).width();
        QVERIFY2(qAbs(measureText(text, popupFont(), 10000).width() - typed) <= 2, qPrintable(QString::number(typed)));
    }

    void lineBreaks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("CR LF") << u"first\r\nsecond"_qs << QStringList{u"first"_qs, u"second"_qs};
        QTest::newRow("LF") << u"first\nsecond"_qs << QStringList{u"first"_qs, u"second"_qs};
        QTest::newRow("CR") << u"first\rsecond"_qs << QStringList{u"first"_qs, u"second"_qs};
        QTest::newRow("mixed") << u"a\r\nb\rc\nd"_qs << QStringList{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs};
        QTest::newRow("empty line") << u"a\r\n\r\nb"_qs << QStringList{u"a"_qs, QString(), u"b"_qs};
        // Direction overrides and isolates cannot reorder what is shown.
        QTest::newRow("right-to-left override")
            << u"Pay to: \u202E1234-5678"_qs << QStringList{u"Pay to: 1234-5678"_qs};
        QTest::newRow("isolates and embeddings")
            << u"\u2067a\u2069\u202Ab\u202C\u202Bc\u202D\u2066d\u2068"_qs << QStringList{u"abcd"_qs};
    }
    void lineBreaks() {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        WidgetPopup popup(popupFont(), false);
        popup.open(messageFor(u"EN"_qs, text), {nullptr, [] {}, nullptr});
        const QTextDocument* document = popup.window()->textControl()->document();
        QCOMPARE(blockTexts(document), lines);
        // Each line centred, and the window as tall as all of them.
        QCOMPARE(document->defaultTextOption().alignment(), Qt::AlignHCenter);
        QCOMPARE(popup.window()->textControl()->height(),
                 measureText(lines.join(u'\n'), popupFont(), 10000).height() + 2 * TEXT_EDGE);
    }

    void oversizedTextStaysOnScreen_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("1000 characters, no blank") << QString(1000, u'W') << false;
        QTest::newRow("1000 characters, words") << QString(u"lorem ipsum "_qs).repeated(84).left(1000) << false;
        QTest::newRow("1000 Cyrillic characters") << QString(1000, u'Ж') << false;
        QTest::newRow("300 lines") << QString(u"line\r\n"_qs).repeated(300) << true;
        QTest::newRow("long lines and many") << QString(QString(200, u'M') + u"\r\n"_qs).repeated(60) << true;
    }
    void oversizedTextStaysOnScreen() {
        QFETCH(QString, text);
        QFETCH(bool, scrolls);
        WidgetPopup popup(popupFont(), false);
        popup.open(messageFor(u"EN"_qs, text), {nullptr, [] {}, nullptr});
        PopupWindow& window = *popup.window();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(
            available.contains(window.frameGeometry()),
            qPrintable(u"%1,%2 %3x%4"_qs.arg(window.x()).arg(window.y()).arg(window.width()).arg(window.height())));
        QVERIFY(available.contains(okOnScreen(window)));
        QTextEdit* textControl = window.textControl();
        // The whole text is there, nothing is cut, and nothing hangs out to the right.
        QCOMPARE(textControl->toPlainText(), normalizeLineBreaks(text));
        QCOMPARE(textControl->horizontalScrollBar()->maximum(), 0);
        QVERIFY(textControl->document()->idealWidth() <= textControl->viewport()->width());
        QCOMPARE(textControl->verticalScrollBar()->maximum() > 0, scrolls);
        QCOMPARE(textControl->verticalScrollBarPolicy(), scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        if (!scrolls)
            QVERIFY(textControl->document()->size().height() <= textControl->viewport()->height());
    }

    void onlyOkCloses() {
        int confirmations = 0;
        WidgetPopup popup(popupFont(), false, DeliberateAct{0, 0});
        popup.open(messageFor(u"EN"_qs, u"Stay"_qs), {nullptr, [&] { ++confirmations; }, nullptr});
        PopupWindow* window = popup.window();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        QVERIFY(!window->close());
        QTest::keyClick(window, Qt::Key_Escape);
        QTest::keyClick(window, Qt::Key_F4, Qt::AltModifier);
        QCloseEvent closeRequest;
        QCoreApplication::sendEvent(window, &closeRequest);
        QVERIFY(!closeRequest.isAccepted());
        QTest::qWait(50);
        QVERIFY(window->isVisible());
        QCOMPARE(confirmations, 0);

        QTest::mouseClick(window->okButton(), Qt::LeftButton);
        QTest::mouseClick(window->okButton(), Qt::LeftButton); // a second press before it goes: no second confirmation
        QCOMPARE(confirmations, 1);
    }

    // A click counts only when its button went down after the pop-up had been seen for half a second.
    void clickAfterSeen_data() {
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("confirmations");
        QTest::newRow("already on its way") << 0 << 0;
        QTest::newRow("after half a second") << 600 << 1;
    }
    void clickAfterSeen() {
        QFETCH(int, waitMs);
        int confirmations = 0;
        WidgetPopup popup(popupFont(), false);
        popup.open(messageFor(u"EN"_qs, u"Look"_qs), {[] {}, [&] { ++confirmations; }, nullptr});
        QVERIFY(QTest::qWaitForWindowExposed(popup.window()));
        QTest::qWait(waitMs);
        QTest::mouseClick(popup.window()->okButton(), Qt::LeftButton);
        QTEST(confirmations, "confirmations");
    }

    void comesBackWhenMinimised() {
        WidgetPopup popup(popupFont(), false);
        popup.open(messageFor(u"EN"_qs, u"Still here"_qs), {nullptr, [] {}, nullptr});
        PopupWindow* window = popup.window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->showMinimized();
        QVERIFY(window->isMinimized());
        QTRY_VERIFY_WITH_TIMEOUT(!window->isMinimized(), 1000);
        QVERIFY(window->isVisible());
    }

    void ageLine_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("waitedMs"); // how long before opening the message arrived
        QTest::newRow("EN at open") << u"EN"_qs << 0 << u"Message"_qs << 0;
        QTest::newRow("EN 60 s") << u"EN"_qs << 1 << u"Message 1 minute ago"_qs << 0;
        QTest::newRow("EN 120 s") << u"EN"_qs << 2 << u"Message 2 minutes ago"_qs << 0;
        QTest::newRow("EN 11 min") << u"EN"_qs << 11 << u"Message 11 minutes ago"_qs << 0;
        QTest::newRow("RU at open") << u"RU"_qs << 0 << u"Сообщение"_qs << 0;
        QTest::newRow("RU 1 min") << u"RU"_qs << 1 << u"Сообщение 1 минуту назад"_qs << 0;
        QTest::newRow("RU 3 min") << u"RU"_qs << 3 << u"Сообщение 3 минуты назад"_qs << 0;
        QTest::newRow("RU 12 min") << u"RU"_qs << 12 << u"Сообщение 12 минут назад"_qs << 0;
        QTest::newRow("RU 21 min") << u"RU"_qs << 21 << u"Сообщение 21 минуту назад"_qs << 0;
        QTest::newRow("RU 111 min") << u"RU"_qs << 111 << u"Сообщение 111 минут назад"_qs << 0;
        QTest::newRow("unknown first") << u"de"_qs << 2 << u" 2  "_qs << 0;
        QTest::newRow("EN waited 3.6 min") << u"EN"_qs << 0 << u"Message 3 minutes ago"_qs << 216000;
        QTest::newRow("EN waited 3.6 min, 1 tick") << u"EN"_qs << 1 << u"Message 4 minutes ago"_qs << 216000;
        QTest::newRow("RU waited 59 s") << u"RU"_qs << 1 << u"Сообщение 1 минуту назад"_qs << 59000;
    }
    void ageLine() {
        QFETCH(QString, lang);
        QFETCH(int, ticks);
        QFETCH(int, waitedMs);
        WidgetPopup popup(popupFont(), false);
        IncomingMessage message = messageFor(lang, u"text"_qs);
        message.arrivedAtMs -= waitedMs;
        popup.open(message, {nullptr, [] {}, nullptr});
        QVERIFY(popup.ageTimer().isActive());
        // The first tick completes the minute that began at arrival.
        const int firstTick = popup.ageTimer().interval();
        QVERIFY2(qAbs(firstTick - (60000 - waitedMs % 60000)) < 500, qPrintable(QString::number(firstTick)));
        for (int i = 0; i < ticks; ++i)
            popup.advanceAge();
        QTEST(popup.window()->windowTitle(), "title");
        popup.close();
        QVERIFY(!popup.ageTimer().isActive());
    }

    void wordsCarryOverToTheNextPopup() {
        WidgetPopup popup(popupFont(), false);
        popup.open(messageFor(u"RU"_qs, u"first"_qs), {nullptr, [] {}, nullptr});
        for (int i = 0; i < 5; ++i)
            popup.advanceAge();
        popup.close();
        popup.open(messageFor(u"XX"_qs, u"second"_qs), {nullptr, [] {}, nullptr});
        QCOMPARE(popup.window()->windowTitle(), u"Сообщение"_qs);
        popup.advanceAge();
        // The Russian words, and the ending last used (5 minutes: none).
        QCOMPARE(popup.window()->windowTitle(), u"Сообщение 1 минут назад"_qs);
    }

    void closeRemovesWindow() {
        WidgetPopup popup(popupFont(), false);
        popup.open(messageFor(u"EN"_qs, u"bye"_qs), {nullptr, [] {}, nullptr});
        QPointer<PopupWindow> window = popup.window();
        popup.close();
        QVERIFY(!popup.window());
        QVERIFY(!window || !window->isVisible());
        QTRY_VERIFY(window.isNull());
    }

    void fadeWhenWanted() {
        WidgetPopup popup(popupFont(), true);
        popup.open(messageFor(u"EN"_qs, u"fading"_qs), {nullptr, [] {}, nullptr});
        QPointer<PopupWindow> window = popup.window();
        QVERIFY(window->isVisible());
        QTRY_COMPARE(window->windowOpacity(), 1.0);
        popup.close();
        QVERIFY(window); // still fading out
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 2000);
    }
};

QTEST_MAIN(TestPopupWindow)
#include "tst_popup_window.moc"
