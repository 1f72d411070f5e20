// Runs the console's test build (plinket_server's own code, its message boxes written to a file
// instead of shown) in a temporary working folder whose start-up checks fail. Every such run must end by itself with
// exit code 0 and leave config.ini exactly as it was (or absent).

#include "language.h"
#include "recorded_boxes.h"
#include "startup_checks.h"
#include "test_files.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace plinket;
using plinket::test::BOM;
using plinket::test::readFileBytes;
using plinket::test::readMessageBoxFile;
using plinket::test::writeFileBytes;

using Boxes = QList<ShownMessageBox>;
Q_DECLARE_METATYPE(Boxes)

namespace {

// The display size the console will see (the test runs on the same offscreen platform); a
// config.ini saved at that size keeps its language.
QByteArray thisScreen() {
    const QSize size = QGuiApplication::primaryScreen()->size();
    return QByteArray::number(size.width()) + '*' + QByteArray::number(size.height());
}

QByteArray configIni(const QByteArray& language, const QByteArray& clients, const QByteArray& screen = {}) {
    return BOM + "[Common]\r\nLanguage = " + language +
           "\r\nScreenRes = " + (screen.isEmpty() ? thisScreen() : screen) +
           "\r\nWindowPosX = 10\r\n\r\n[Paths]\r\nClients = " + clients + "\r\nTemplates = .\\templates.ini\r\n";
}

const QString CLIENTS_RU = u"Не могу создать/открыть файл clients.ini."_qs;
const QString CLIENTS_EN = u"Can't create/open clients.ini file."_qs;
const ShownMessageBox LANGUAGE_BOX{BoxIcon::Warning, u"Warning"_qs,
                                   u"Incorrect language setting, only RU or EN are permissible.\r\n"
                                   u"Application was launched with default 'RU' setting."_qs};

} // namespace

class TestAppStartup final : public QObject {
    Q_OBJECT

private slots:
    void errorText_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("network");
        QTest::addColumn<bool>("clients");
        QTest::addColumn<QString>("expected");
        QTest::newRow("both fine") << u"EN"_qs << true << true << QString();
        QTest::newRow("network") << u"EN"_qs << false << true << u"Can't init TCP/IP stack."_qs;
        QTest::newRow("clients") << u"EN"_qs << true << false << CLIENTS_EN;
        QTest::newRow("both, networking first")
            << u"EN"_qs << false << false << (u"Can't init TCP/IP stack.\r\n"_qs + CLIENTS_EN);
        QTest::newRow("both, Russian") << u"RU"_qs << false << false
                                       << (u"Не могу инициализировать стек TCP/IP.\r\n"_qs + CLIENTS_RU);
    }
    void errorText() {
        QFETCH(QString, language);
        QFETCH(bool, network);
        QFETCH(bool, clients);
        QFETCH(QString, expected);
        (void)applyLanguage(language);
        QCOMPARE(startupErrorText(network, clients), expected);
    }

    void failingStartup_data() {
        QTest::addColumn<QByteArray>("config");    // empty: no config.ini
        QTest::addColumn<bool>("clientsIsFolder"); // clients.ini in the working folder is a folder
        QTest::addColumn<Boxes>("boxes");
        QTest::addColumn<QByteArray>("signingKey"); // "%1" in a box: its path
        QTest::addColumn<QString>("keyPlant");      // how: "0644" (readable by everyone), "nobody", "fifo"
        QTest::newRow("no config, clients.ini cannot be created")
            << QByteArray() << true << Boxes{{BoxIcon::Error, u"Ошибка!"_qs, CLIENTS_RU}} << QByteArray() << QString();
        QTest::newRow("clients.ini in a folder that does not exist")
            << configIni("RU", ".\\missing\\clients.ini") << false << Boxes{{BoxIcon::Error, u"Ошибка!"_qs, CLIENTS_RU}}
            << QByteArray() << QString();
        QTest::newRow("English") << configIni("EN", ".\\missing\\clients.ini") << false
                                 << Boxes{{BoxIcon::Error, u"Error!"_qs, CLIENTS_EN}} << QByteArray() << QString();
        QTest::newRow("English saved at another display size: Russian")
            << configIni("EN", ".\\missing\\clients.ini", "1920*1080") << false
            << Boxes{{BoxIcon::Error, u"Ошибка!"_qs, CLIENTS_RU}} << QByteArray() << QString();
        QTest::newRow("invalid language: one warning, then Russian")
            << configIni("en", ".\\missing\\clients.ini") << false
            << Boxes{LANGUAGE_BOX, {BoxIcon::Error, u"Ошибка!"_qs, CLIENTS_RU}} << QByteArray() << QString();
        QTest::newRow("invalid language at another display size: still one warning")
            << configIni("DE", ".\\missing\\clients.ini", "1*1") << false
            << Boxes{LANGUAGE_BOX, {BoxIcon::Error, u"Ошибка!"_qs, CLIENTS_RU}} << QByteArray() << QString();
        // A signing key that other users can read or change, or that is someone else's, is never used, and a
        // FIFO in its place is refused without waiting: the console says why and ends.
        const auto keyBox = [](const QString& why) {
            return Boxes{
                {BoxIcon::Error, u"Error!"_qs,
                 u"The signing key %1 is not used: "_qs + why +
                     u".\r\nIt must be a regular file that you own and that nobody else can read or change "
                     u"(chmod 600); or remove it to send unsigned messages.\r\nThe program is interrupted."_qs}};
        };
        const QByteArray key("ed25519-secret AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\n");
        QTest::newRow("signing key readable by others")
            << configIni("EN", ".\\clients.ini") << false
            << keyBox(plinket::test::unixFiles() ? u"other users may read or change it (mode 0644; chmod 600)"_qs
                                                 : u"other users may read or change it"_qs) // no mode: an access list
            << key << u"0644"_qs;
        QTest::newRow("signing key of another user")
            << configIni("EN", ".\\clients.ini") << false
            << keyBox(u"owned by nobody (uid 65534), not by root (uid 0)"_qs) << key << u"nobody"_qs;
        QTest::newRow("signing key a FIFO")
            << configIni("EN", ".\\clients.ini") << false << keyBox(u"not a regular file"_qs) << key << u"fifo"_qs;
    }
    void failingStartup() {
        QFETCH(QByteArray, config);
        QFETCH(bool, clientsIsFolder);
        QFETCH(Boxes, boxes);
        QFETCH(QByteArray, signingKey);
        QFETCH(QString, keyPlant);
        if ((keyPlant == u"nobody" || keyPlant == u"fifo") && !plinket::test::unixFiles())
            QSKIP("FIFOs and Unix file owners do not exist on Windows");
        if (keyPlant == u"nobody" && !plinket::test::runningAsRoot())
            QSKIP("giving a file to another user needs root");
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString configPath = work.filePath(u"config.ini"_qs);
        if (!config.isEmpty())
            QVERIFY(writeFileBytes(configPath, config));
        if (clientsIsFolder)
            QVERIFY(QDir(work.path()).mkdir(u"clients.ini"_qs));
        const QString boxFile = work.filePath(u"boxes.jsonl"_qs);
        const QString keyPath = work.filePath(u"signing.key"_qs);
        if (keyPlant == u"fifo") {
            QVERIFY(plinket::test::makeFifo(keyPath));
        } else if (!signingKey.isEmpty()) {
            QVERIFY(writeFileBytes(keyPath, signingKey));
            if (keyPlant == u"0644")
                QVERIFY(plinket::test::letOthersRead(keyPath));
            else
                QVERIFY(plinket::test::keepPrivate(keyPath));
            if (keyPlant == u"nobody")
                QVERIFY(plinket::test::giveToNobody(keyPath));
        }

        QProcess console;
        console.setWorkingDirectory(work.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        env.insert(u"PLINKET_TEST_MESSAGE_BOXES"_qs, boxFile);
        console.setProcessEnvironment(env);
        console.start(QStringLiteral(PLINKET_SERVER_PROGRAM), {});
        QVERIFY(console.waitForStarted());
        // A console that got past its checks would wait for its window to be closed.
        if (!console.waitForFinished(60000)) {
            console.kill();
            console.waitForFinished();
            QFAIL("the console did not end after its start-up failure");
        }
        QCOMPARE(console.exitStatus(), QProcess::NormalExit);
        QCOMPARE(console.exitCode(), 0);

        const Boxes shown = readMessageBoxFile(boxFile);
        QCOMPARE(shown.size(), boxes.size());
        for (qsizetype i = 0; i < shown.size(); ++i) {
            QCOMPARE(shown[i].icon, boxes[i].icon);
            QCOMPARE(shown[i].title, boxes[i].title);
            QCOMPARE(shown[i].text, QString(boxes[i].text).replace(u"%1"_qs, QDir::toNativeSeparators(keyPath)));
        }
        // Nothing saved: config.ini as it was, or still absent.
        if (config.isEmpty())
            QVERIFY(!QFile::exists(configPath));
        else
            QCOMPARE(readFileBytes(configPath), config);
        QVERIFY(!QFile::exists(work.filePath(u"templates.ini"_qs)));
    }
};

QTEST_MAIN(TestAppStartup)
#include "tst_app_startup.moc"
