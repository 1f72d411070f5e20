#include "client_state.h"
#include "popup_texts.h"

#include <QTest>

using namespace plinket;

class TestPopupTexts final : public QObject {
    Q_OBJECT

private slots:
    void ageTitles_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<QString>("title");
        const struct {
            int n;
            const char16_t* ru;
            const char16_t* en;
        } table[] = {
            {1, u"Сообщение 1 минуту назад", u"Message 1 minute ago"},
            {2, u"Сообщение 2 минуты назад", u"Message 2 minutes ago"},
            {5, u"Сообщение 5 минут назад", u"Message 5 minutes ago"},
            {11, u"Сообщение 11 минут назад", u"Message 11 minutes ago"},
            {21, u"Сообщение 21 минуту назад", u"Message 21 minutes ago"},
            {22, u"Сообщение 22 минуты назад", u"Message 22 minutes ago"},
            {111, u"Сообщение 111 минут назад", u"Message 111 minutes ago"},
        };
        for (const auto& row : table) {
            QTest::addRow("RU %d", row.n) << u"RU"_qs << row.n << QString::fromUtf16(row.ru);
            QTest::addRow("EN %d", row.n) << u"EN"_qs << row.n << QString::fromUtf16(row.en);
        }
    }
    void ageTitles() {
        QFETCH(QString, lang);
        QFETCH(int, minutes);
        QFETCH(QString, title);
        PopupTexts texts;
        selectWords(texts, lang);
        QCOMPARE(ageTitle(texts, lang, minutes), title);
    }

    void russianEndings_data() {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<QString>("word");
        for (int n : {1, 21, 101})
            QTest::addRow("%d", n) << n << u"минуту"_qs;
        for (int n : {2, 3, 4, 22, 34})
            QTest::addRow("%d", n) << n << u"минуты"_qs;
        for (int n : {5, 10, 11, 12, 14, 20, 25, 111, 112})
            QTest::addRow("%d", n) << n << u"минут"_qs;
    }
    void russianEndings() {
        QFETCH(int, minutes);
        QFETCH(QString, word);
        PopupTexts texts;
        selectWords(texts, u"RU"_qs);
        updatePluralEnding(texts, u"RU"_qs, minutes);
        QCOMPARE(texts.minuteWord + texts.pluralEnding, word);
    }

    void wordsByLanguage_data() {
        QTest::addColumn<QStringList>("languages"); // the LANG of successive messages
        QTest::addColumn<QString>("titleWord");     // the words after the last one
        QTest::addColumn<QString>("minuteWord");
        QTest::addColumn<QString>("agoWord");
        QTest::newRow("RU") << QStringList{u"RU"_qs} << u"Сообщение"_qs << u"минут"_qs << u"назад"_qs;
        QTest::newRow("EN") << QStringList{u"EN"_qs} << u"Message"_qs << u"minute"_qs << u"ago"_qs;
        QTest::newRow("unknown first: empty words") << QStringList{u"DE"_qs} << QString() << QString() << QString();
        QTest::newRow("lower case not recognised") << QStringList{u"ru"_qs} << QString() << QString() << QString();
        QTest::newRow("unknown keeps previous")
            << QStringList{u"RU"_qs, u"xx"_qs} << u"Сообщение"_qs << u"минут"_qs << u"назад"_qs;
        QTest::newRow("empty keeps previous")
            << QStringList{u"EN"_qs, QString()} << u"Message"_qs << u"minute"_qs << u"ago"_qs;
        QTest::newRow("switch back") << QStringList{u"EN"_qs, u"RU"_qs, u"EN"_qs} << u"Message"_qs << u"minute"_qs
                                     << u"ago"_qs;
    }
    void wordsByLanguage() {
        QFETCH(QStringList, languages);
        PopupTexts texts;
        for (const QString& lang : languages)
            selectWords(texts, lang);
        QTEST(texts.titleWord, "titleWord");
        QTEST(texts.minuteWord, "minuteWord");
        QTEST(texts.agoWord, "agoWord");
    }

    void unknownLanguageFirst() {
        // Only the number and the blanks between the empty words.
        PopupTexts texts;
        selectWords(texts, u"??"_qs);
        QCOMPARE(ageTitle(texts, u"??"_qs, 3), u" 3  "_qs);
    }

    void unknownLanguageKeepsLastEnding() {
        PopupTexts texts;
        selectWords(texts, u"EN"_qs);
        QCOMPARE(ageTitle(texts, u"EN"_qs, 4), u"Message 4 minutes ago"_qs);
        selectWords(texts, u"fr"_qs);
        QCOMPARE(ageTitle(texts, u"fr"_qs, 1), u"Message 1 minutes ago"_qs);
    }

    void newPopupStartsAtOneMinuteAgain() {
        // After an English pop-up that stayed open for minutes, the next one reads "1 minute" again.
        PopupTexts texts;
        selectWords(texts, u"EN"_qs);
        for (int n = 1; n <= 5; ++n)
            ageTitle(texts, u"EN"_qs, n);
        selectWords(texts, u"EN"_qs);
        QCOMPARE(ageTitle(texts, u"EN"_qs, 1), u"Message 1 minute ago"_qs);
    }

    void lineBreaks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("CR LF") << u"a\r\nb"_qs << u"a\nb"_qs;
        QTest::newRow("LF") << u"a\nb"_qs << u"a\nb"_qs;
        QTest::newRow("CR") << u"a\rb"_qs << u"a\nb"_qs;
        QTest::newRow("CR LF twice") << u"a\r\n\r\nb"_qs << u"a\n\nb"_qs;
        QTest::newRow("LF CR is two breaks") << u"a\n\rb"_qs << u"a\n\nb"_qs;
        QTest::newRow("CR CR LF") << u"a\r\r\nb"_qs << u"a\n\nb"_qs;
        QTest::newRow("trailing CR") << u"a\r"_qs << u"a\n"_qs;
        QTest::newRow("none") << u"plain"_qs << u"plain"_qs;
        QTest::newRow("empty") << QString() << QString();
    }
    void lineBreaks() {
        QFETCH(QString, text);
        QTEST(normalizeLineBreaks(text), "shown");
    }

    void duplicateCheck_data() {
        // The message confirmed last is id 420195130 from 10.0.0.1 with the text "Lunch"; none when its id is null.
        QTest::addColumn<QString>("lastConfirmed");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("repeat");
        const QString id = u"420195130"_qs, admin = u"10.0.0.1"_qs, lunch = u"Lunch"_qs;
        QTest::newRow("same message") << id << id << admin << lunch << true;
        QTest::newRow("other id") << id << u"420195131"_qs << admin << lunch << false;
        QTest::newRow("compared as text") << id << u"0420195130"_qs << admin << lunch << false;
        QTest::newRow("case-sensitive") << u"abc"_qs << u"ABC"_qs << admin << lunch << false;
        QTest::newRow("other sender") << id << id << u"10.0.0.2"_qs << lunch << false;
        QTest::newRow("other text") << id << id << admin << u"Lunch!"_qs << false;
        QTest::newRow("nothing confirmed yet") << QString() << id << admin << lunch << false;
        QTest::newRow("empty id before any confirmation") << QString() << QString() << admin << lunch << false;
        QTest::newRow("empty id after the same message") << u""_qs << QString() << admin << lunch << false;
    }
    void duplicateCheck() {
        QFETCH(QString, lastConfirmed);
        QFETCH(QString, id);
        QFETCH(QString, sender);
        QFETCH(QString, text);
        ClientState state;
        if (!lastConfirmed.isNull())
            state.lastConfirmed = ConfirmedMessage{lastConfirmed, QHostAddress(u"10.0.0.1"_qs), u"Lunch"_qs};
        const MessageDatagram message{u"EN"_qs, id, text, u"ADMIN-PC"_qs};
        QTEST(isAlreadyConfirmed(state, QHostAddress(sender), message), "repeat");
    }
};

QTEST_APPLESS_MAIN(TestPopupTexts)
#include "tst_popup_texts.moc"
