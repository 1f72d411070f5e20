#include "language.h"

#include <QTest>

using namespace plinket;

class TestLanguage final : public QObject {
    Q_OBJECT

private slots:
    void validation_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("inEffect");
        QTest::addColumn<bool>("warning");
        QTest::newRow("RU") << u"RU"_qs << u"RU"_qs << false;
        QTest::newRow("EN") << u"EN"_qs << u"EN"_qs << false;
        QTest::newRow("lower case") << u"en"_qs << u"RU"_qs << true;
        QTest::newRow("mixed case") << u"En"_qs << u"RU"_qs << true;
        QTest::newRow("other language") << u"DE"_qs << u"RU"_qs << true;
        QTest::newRow("empty") << QString() << u"RU"_qs << true;
        QTest::newRow("blank around") << u" EN"_qs << u"RU"_qs << true;
    }
    void validation() {
        QFETCH(QString, code);
        QFETCH(QString, inEffect);
        QFETCH(bool, warning);
        const LanguageChoice choice = applyLanguage(code);
        QCOMPARE(choice.code, inEffect);
        QCOMPARE(choice.warningDue, warning);
        QCOMPARE(text(TextId::languageCode), inEffect);
        QCOMPARE(text(TextId::errorTitle), inEffect == u"EN"_qs ? u"Error!"_qs : u"Ошибка!"_qs);
    }

    void localeLanguage_data() {
        QTest::addColumn<QString>("lcAll");
        QTest::addColumn<QString>("lcMessages");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("language");
        QTest::newRow("nothing set") << QString() << QString() << QString() << u"EN"_qs;
        QTest::newRow("LANG Russian") << QString() << QString() << u"ru_RU.UTF-8"_qs << u"RU"_qs;
        QTest::newRow("LANG bare ru") << QString() << QString() << u"ru"_qs << u"RU"_qs;
        QTest::newRow("LANG C") << QString() << QString() << u"C.UTF-8"_qs << u"EN"_qs;
        QTest::newRow("LANG German") << QString() << QString() << u"de_DE.UTF-8"_qs << u"EN"_qs;
        QTest::newRow("LC_MESSAGES over LANG") << QString() << u"en_GB.UTF-8"_qs << u"ru_RU.UTF-8"_qs << u"EN"_qs;
        QTest::newRow("LC_ALL over both") << u"ru_UA.UTF-8"_qs << u"C"_qs << u"en_US.UTF-8"_qs << u"RU"_qs;
        QTest::newRow("empty LC_ALL is unset") << QString() << u"ru_RU.UTF-8"_qs << u"C"_qs << u"RU"_qs;
        QTest::newRow("upper case is no locale name") << QString() << QString() << u"RU"_qs << u"EN"_qs;
    }
    void localeLanguage() {
        QFETCH(QString, lcAll);
        QFETCH(QString, lcMessages);
        QFETCH(QString, lang);
        QFETCH(QString, language);
        QCOMPARE(languageOfLocale(lcAll, lcMessages, lang), language);
    }

    void tables_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("ru");
        QTest::addColumn<QString>("en");
        auto row = [](TextId id, const char* name, const QString& ru, const QString& en) {
            QTest::newRow(name) << int(id) << ru << en;
        };
        row(TextId::templateSyntaxTip, "templateSyntaxTip",
            u"Формат шаблона: \"Заголовок\" тело сообщения (можно многострочное)"_qs,
            u"Template syntax: \"header\" message body"_qs);
        row(TextId::errRegistryKey, "errRegistryKey",
            u"Не могу создать раздел в реестре. Нет прав администратора?\rПрограмма прервана."_qs,
            u"Can't create registry key. Lack of admin privileges?\rThe program is interrupted."_qs);
        row(TextId::errPortBusy, "errPortBusy", u"Не могу открыть порт 47128. Уже используется?"_qs,
            u"Can't open port 47128. Already busy?"_qs);
        row(TextId::unitHours, "unitHours", u"час"_qs, u"hrs"_qs);
        row(TextId::timePreposition, "timePreposition", u"в"_qs, u"in"_qs);
        row(TextId::statusNotDelivered, "statusNotDelivered", u"Не доставлено"_qs, u"Not delivered"_qs);
        row(TextId::broadcastLabel, "broadcastLabel", u"Использовать broadcast-вещание"_qs,
            u"Use broadcast messaging"_qs);
        row(TextId::languageCode, "languageCode", u"RU"_qs, u"EN"_qs);
    }
    void tables() {
        QFETCH(int, id);
        QFETCH(QString, ru);
        QFETCH(QString, en);
        QCOMPARE(textIn(u"RU", TextId(id)), ru);
        QCOMPARE(textIn(u"EN", TextId(id)), en);
        (void)applyLanguage(u"EN"_qs);
        QCOMPARE(text(TextId(id)), en);
        (void)applyLanguage(u"xx"_qs);
        QCOMPARE(text(TextId(id)), ru);
    }

    void everyTextPresentAndDistinctPerLanguage() {
        for (int i = 0; i < TEXT_ID_COUNT; ++i) {
            QVERIFY(!textIn(u"RU", TextId(i)).isEmpty());
            QVERIFY(!textIn(u"EN", TextId(i)).isEmpty());
            QVERIFY2(textIn(u"RU", TextId(i)) != textIn(u"EN", TextId(i)), qPrintable(QString::number(i)));
        }
        QCOMPARE(TEXT_ID_COUNT, 30);
    }

    void fixedTexts() {
        QCOMPARE(MAIN_WINDOW_TITLE, u"Plinket Server v1.40");
        QCOMPARE(WARNING_TITLE, u"Warning");
        QCOMPARE(LANGUAGE_WARNING, u"Incorrect language setting, only RU or EN are permissible.\r\n"
                                   u"Application was launched with default 'RU' setting.");
        QCOMPARE(FORUM_CAPTION_PREFIX, u"Обсуждение на ");
    }
};

QTEST_APPLESS_MAIN(TestLanguage)
#include "tst_language.moc"
