#include "settings.h"
#include "test_files.h"

#include <QTemporaryDir>
#include <QTest>

using namespace plinket;
using plinket::test::BOM;
using plinket::test::readFileBytes;
using plinket::test::writeFileBytes;

namespace {

const QSize FULL_HD(1920, 1080);

const QByteArray EXAMPLE = BOM + "[Common]\r\n"
                                 "Language = EN\r\n"
                                 "ScreenRes = 1920*1080\r\n"
                                 "WindowPosX = 100\r\n"
                                 "WindowPosY = 50\r\n"
                                 "WindowWidth = 700\r\n"
                                 "WindowHeight = 500\r\n"
                                 "SplitterHoriz = 80\r\n"
                                 "SplitterVertc = 260\r\n"
                                 "\r\n"
                                 "[Paths]\r\n"
                                 "Clients = .\\clients.ini\r\n"
                                 "Templates = .\\templates.ini\r\n"
                                 "\r\n"
                                 "[Messages]\r\n"
                                 "Timer = 5\r\n"
                                 "Measure = 1\r\n"
                                 "Broadcast = 1\r\n"
                                 "Broadcast_IP = 192.168.0.255\r\n";

ServerSettings exampleSettings() {
    ServerSettings s;
    s.language = u"EN"_qs;
    s.windowPosX = 100;
    s.windowPosY = 50;
    s.windowWidth = 700;
    s.windowHeight = 500;
    s.broadcastEnabled = 1;
    s.broadcastAddress = u"192.168.0.255"_qs;
    return s;
}

// Everything as one line, for comparing whole settings.
QString summary(const ServerSettings& s) {
    return QStringList{s.language,
                       QString::number(s.windowPosX),
                       QString::number(s.windowPosY),
                       QString::number(s.windowWidth),
                       QString::number(s.windowHeight),
                       QString::number(s.splitterHoriz),
                       QString::number(s.splitterVertc),
                       s.clientsPath,
                       s.templatesPath,
                       QString::number(s.waitCount),
                       QString::number(s.waitUnit),
                       QString::number(s.broadcastEnabled),
                       s.broadcastAddress}
        .join(u'|');
}

} // namespace

class TestSettings final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_file;

private slots:
    void init() {
        m_file = settingsFilePath(m_dir.path());
        QFile::remove(m_file);
    }

    void exampleWrittenOverTwoSaves() {
        // The first save of a new file has no mark; the next one puts the mark directly before
        // the first header.
        QVERIFY(saveSettings(m_file, exampleSettings(), FULL_HD));
        QCOMPARE(readFileBytes(m_file), EXAMPLE.mid(3));
        QVERIFY(saveSettings(m_file, exampleSettings(), FULL_HD));
        QCOMPARE(readFileBytes(m_file), EXAMPLE);
        QVERIFY(saveSettings(m_file, exampleSettings(), FULL_HD));
        QCOMPARE(readFileBytes(m_file), EXAMPLE);
    }

    void loading_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QSize>("display");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("languageCalls");
        QTest::newRow("example") << EXAMPLE << FULL_HD
                                 << u"EN|100|50|700|500|80|260|.\\clients.ini|.\\templates.ini|5|1|1|192.168.0.255"_qs
                                 << QStringList{u"EN"_qs};
        QTest::newRow("no file: defaults, Russian")
            << QByteArray() << FULL_HD << u"RU|-65535|-65535|455|200|80|260|.\\clients.ini|.\\templates.ini|5|1|0|"_qs
            << QStringList{u"RU"_qs};
        QTest::newRow("other display: geometry, timer and language fall back")
            << QByteArray(EXAMPLE).replace("Timer = 5", "Timer = 9").replace("Clients = .\\", "Clients = D:\\")
            << QSize(1280, 1024)
            << u"RU|-65535|-65535|455|200|80|260|D:\\clients.ini|.\\templates.ini|5|1|1|192.168.0.255"_qs
            << QStringList{u"EN"_qs, u"RU"_qs};
        QTest::newRow("invalid language still asked first")
            << QByteArray("[Common]\r\nLanguage = ru\r\nScreenRes = 1920*1080\r\nWindowPosX = 7") << FULL_HD
            << u"RU|7|-65535|455|200|80|260|.\\clients.ini|.\\templates.ini|5|1|0|"_qs << QStringList{u"ru"_qs};
        QTest::newRow("missing ScreenRes, non-numeric values")
            << QByteArray("[Messages]\r\nTimer = abc\r\nMeasure = 2\r\nBroadcast_IP = 10.0.0.255  ") << FULL_HD
            << u"RU|-65535|-65535|455|200|80|260|.\\clients.ini|.\\templates.ini|5|1|0|10.0.0.255"_qs
            << QStringList{u"RU"_qs, u"RU"_qs};
        QTest::newRow("non-numeric geometry reads 0, no range check")
            << QByteArray("[common]\r\nscreenres=1920*1080\r\nWindowWidth=x\r\nWindowHeight=99999\r\n[MESSAGES]\r\n"
                          "Timer=0")
            << FULL_HD << u"RU|-65535|-65535|0|99999|80|260|.\\clients.ini|.\\templates.ini|0|1|0|"_qs
            << QStringList{u"RU"_qs};
    }
    void loading() {
        QFETCH(QByteArray, file);
        QFETCH(QSize, display);
        QFETCH(QString, expected);
        QFETCH(QStringList, languageCalls);
        if (!file.isNull())
            QVERIFY(writeFileBytes(m_file, file));
        QStringList calls;
        const ServerSettings s = loadSettings(m_file, display, [&](const QString& code) {
            calls << code;
            return (code == u"RU"_qs || code == u"EN"_qs) ? code : u"RU"_qs;
        });
        QCOMPARE(summary(s), expected);
        QCOMPARE(calls, languageCalls);
        if (!file.isNull())
            QCOMPARE(readFileBytes(m_file), file); // loading never writes
    }

    void commentsAndUnknownKeysSurvive() {
        QVERIFY(writeFileBytes(m_file, BOM + ";hand-written\r\n[Common]\r\nLanguage = EN\r\nMine = 1\r\n\r\n[Extra]\r\n"
                                             "x=y\r\n[Messages]\r\n;note\r\nBroadcast_IP = 1.2.3.4\r\n"));
        ServerSettings s = exampleSettings();
        s.broadcastAddress.clear();
        QVERIFY(saveSettings(m_file, s, FULL_HD));
        QCOMPARE(readFileBytes(m_file),
                 BOM + "; hand-written\r\n[Common]\r\nLanguage = EN\r\nMine = 1\r\nScreenRes = 1920*1080\r\n"
                       "WindowPosX = 100\r\nWindowPosY = 50\r\nWindowWidth = 700\r\nWindowHeight = 500\r\n"
                       "SplitterHoriz = 80\r\nSplitterVertc = 260\r\n\r\n[Extra]\r\nx = y\r\n\r\n[Messages]\r\n"
                       "; note\r\nBroadcast_IP = \r\nTimer = 5\r\nMeasure = 1\r\nBroadcast = 1\r\n\r\n[Paths]\r\n"
                       "Clients = .\\clients.ini\r\nTemplates = .\\templates.ini\r\n");
    }

    // The empty line after the mark is joined only when the file starts with the mark: a file
    // without it whose first line is short must not lose that line.
    void markRepairOnlyAfterMark() {
        QVERIFY(writeFileBytes(m_file, "; a\r\n"));
        QVERIFY(saveSettings(m_file, exampleSettings(), FULL_HD));
        QVERIFY(readFileBytes(m_file).startsWith(QByteArray(BOM + "; a\r\n[Common]\r\n")));
    }

    void emptyFileWrittenWithoutMark() {
        QVERIFY(writeFileBytes(m_file, QByteArray()));
        QVERIFY(saveSettings(m_file, exampleSettings(), FULL_HD));
        QCOMPARE(readFileBytes(m_file), EXAMPLE.mid(3));
    }

    void unwritableLocationSavesNothing() {
        QVERIFY(!saveSettings(m_dir.filePath(u"missing/config.ini"_qs), exampleSettings(), FULL_HD));
    }

    void storedPaths_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("local");
        QTest::newRow("default") << u".\\clients.ini"_qs << u"/work/dir/clients.ini"_qs;
        QTest::newRow("subfolder") << u"data\\sub\\t.ini"_qs << u"/work/dir/data/sub/t.ini"_qs;
        QTest::newRow("parent") << u"..\\shared\\c.ini"_qs << u"/work/shared/c.ini"_qs;
        QTest::newRow("absolute") << u"/etc/plinket/c.ini"_qs << u"/etc/plinket/c.ini"_qs;
    }
    void storedPaths() {
        QFETCH(QString, stored);
        QFETCH(QString, local);
        QCOMPARE(localFilePath(stored, u"/work/dir/"_qs), local);
        QCOMPARE(localFilePath(stored, u"/work/dir"_qs), local);
    }
};

QTEST_APPLESS_MAIN(TestSettings)
#include "tst_settings.moc"
