// Replays, through the fuzz targets themselves and without libFuzzer, every seed of the corpus and
// every input a fuzzing run found (crash, leak, time-out or broken property), so each finding stays
// fixed in the normal suite.

#include "fuzz_target.h"

#include <QDir>
#include <QFile>
#include <QTest>

PLINKET_FUZZ_TARGET(protocol);
PLINKET_FUZZ_TARGET(ini_document);
PLINKET_FUZZ_TARGET(client_directory);
PLINKET_FUZZ_TARGET(templates);
PLINKET_FUZZ_TARGET(settings);
PLINKET_FUZZ_TARGET(signature);

namespace {

struct Target {
    const char* name;
    int (*run)(const uint8_t*, size_t);
};
const Target TARGETS[] = {
    {"protocol", plinketFuzz_protocol},
    {"ini_document", plinketFuzz_ini_document},
    {"client_directory", plinketFuzz_client_directory},
    {"templates", plinketFuzz_templates},
    {"settings", plinketFuzz_settings},
    {"signature", plinketFuzz_signature},
};

QStringList g_broken;

void recordBroken(const char* what) {
    g_broken.append(QString::fromUtf8(what));
}

QDir inputs(const char* kind, const char* target) {
    return QDir(QStringLiteral(PLINKET_FUZZ_DIR "/%1/%2").arg(QLatin1String(kind), QLatin1String(target)));
}

} // namespace

class TestFuzzReplay final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { plinket::fuzz::setFailureHandler(recordBroken); }

    void everyTargetHasSeeds() {
        for (const Target& t : TARGETS)
            QVERIFY2(!inputs("corpus", t.name).entryList(QDir::Files).isEmpty(), t.name);
    }

    void replay_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("file");
        for (int i = 0; i < int(std::size(TARGETS)); ++i) {
            for (const char* kind : {"corpus", "findings"}) {
                const QDir dir = inputs(kind, TARGETS[i].name);
                for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
                    QTest::addRow("%s/%s/%s", TARGETS[i].name, kind, qPrintable(name)) << i << dir.filePath(name);
            }
        }
    }
    void replay() {
        QFETCH(int, target);
        QFETCH(QString, file);
        QFile input(file);
        QVERIFY(input.open(QIODevice::ReadOnly));
        const QByteArray bytes = input.readAll();
        g_broken.clear();
        TARGETS[target].run(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
        QVERIFY2(g_broken.isEmpty(), qPrintable(g_broken.join(u"; "_qs)));
    }
};

QTEST_APPLESS_MAIN(TestFuzzReplay)
#include "tst_fuzz_replay.moc"
