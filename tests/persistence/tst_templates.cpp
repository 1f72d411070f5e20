#include "templates.h"
#include "test_files.h"

#include <QTemporaryDir>
#include <QTest>

using namespace plinket;
using plinket::test::BOM;
using plinket::test::readFileBytes;
using plinket::test::writeFileBytes;

namespace {

const QByteArray TWO_TEMPLATES = BOM + "\r\n"
                                       "[Lunch]\r\n"
                                       "1 = Lunch is served in the canteen.|Enjoy your meal!\r\n"
                                       "\r\n"
                                       "[Fire drill]\r\n"
                                       "1 = Fire drill at 15:00. Please leave the building by the nearest exit.\r\n";

QStringList headers(const TemplateCatalog& catalog) {
    QStringList out;
    for (const TemplateRecord& r : catalog.records())
        out << r.header;
    return out;
}

} // namespace

class TestTemplates final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_file;

private slots:
    void init() {
        m_file = m_dir.filePath(u"templates.ini"_qs);
        QFile::remove(m_file);
    }

    void loadExample() {
        QVERIFY(writeFileBytes(m_file, TWO_TEMPLATES));
        const TemplateCatalog catalog = loadTemplates(m_file);
        QCOMPARE(headers(catalog), (QStringList{u"Lunch"_qs, u"Fire drill"_qs}));
        QCOMPARE(catalog.at(0).body, u"Lunch is served in the canteen.\r\nEnjoy your meal!"_qs);
        QCOMPARE(readFileBytes(m_file), TWO_TEMPLATES);
    }

    void loadRules() {
        QVERIFY(writeFileBytes(m_file, BOM + "[Empty]\r\n[Many]\r\n1 = first\r\n;c\r\nx = last|line\r\n"));
        const TemplateCatalog catalog = loadTemplates(m_file);
        QCOMPARE(headers(catalog), (QStringList{u"Empty"_qs, u"Many"_qs}));
        QCOMPARE(catalog.at(0).body, QString());
        QCOMPARE(catalog.at(1).body, u"last\r\nline"_qs);
        QVERIFY(loadTemplates(m_dir.filePath(u"none.ini"_qs)).isEmpty());
    }

    void editorText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("body");
        QTest::newRow("quoted") << u"\"Lunch\" Lunch is served."_qs << -1 << u"Lunch"_qs << u"Lunch is served."_qs;
        QTest::newRow("blanks trimmed, tabs kept") << u"  \" Lunch \"\t body  "_qs << 0 << u"Lunch"_qs << u"\t body"_qs;
        QTest::newRow("after a third quote dropped") << u"\"H\" say \"hi\" there"_qs << -1 << u"H"_qs << u"say"_qs;
        QTest::newRow("no second quote: no body") << u"\"Lunch is served"_qs << 0 << QString() << QString();
        QTest::newRow("empty header saves nothing") << u"\"\" body"_qs << 0 << QString() << QString();
        QTest::newRow("selected template gets the text")
            << u" new body\r\nline 2 "_qs << 1 << u"Fire drill"_qs << u"new body\r\nline 2"_qs;
        QTest::newRow("nothing selected, no quote") << u"body"_qs << -1 << QString() << QString();
        QTest::newRow("blank text") << u"   "_qs << 0 << QString() << QString();
    }
    void editorText() {
        QFETCH(QString, text);
        QFETCH(int, selected);
        QFETCH(QString, header);
        QFETCH(QString, body);
        QVERIFY(writeFileBytes(m_file, TWO_TEMPLATES));
        const auto draft = templateFromEditor(text, selected, loadTemplates(m_file));
        QCOMPARE(draft.has_value(), !header.isEmpty());
        if (draft) {
            QCOMPARE(draft->header, header);
            QCOMPARE(draft->body, body);
        }
    }

    void firstSaveCreatesFile() {
        TemplateCatalog catalog;
        const TemplateSaveResult r = saveTemplate(m_file, catalog, u"Lunch"_qs, u"Lunch is served."_qs);
        QCOMPARE(r.status, TemplateSaveStatus::Saved);
        QVERIFY(r.appended);
        QCOMPARE(r.index, 0);
        QCOMPARE(readFileBytes(m_file), BOM + "\r\n[Lunch]\r\n1 = Lunch is served.\r\n");
        QCOMPARE(headers(catalog), QStringList{u"Lunch"_qs});
    }

    void saveKeepsFileSpellingAndPlace() {
        QVERIFY(writeFileBytes(m_file, TWO_TEMPLATES));
        TemplateCatalog catalog = loadTemplates(m_file);
        const TemplateSaveResult r = saveTemplate(m_file, catalog, u"lunch"_qs, u"Soup\r\nand bread"_qs);
        QCOMPARE(r.status, TemplateSaveStatus::Saved);
        QVERIFY(!r.appended);
        QCOMPARE(r.index, 0);
        QCOMPARE(catalog.size(), 2);
        QCOMPARE(catalog.at(0).body, u"Soup\r\nand bread"_qs);
        QCOMPARE(
            readFileBytes(m_file),
            QByteArray(TWO_TEMPLATES).replace("Lunch is served in the canteen.|Enjoy your meal!", "Soup|and bread"));
        QCOMPARE(loadTemplates(m_file).at(0).body, u"Soup\r\nand bread"_qs);
    }

    // A lone CR or LF in a body would end the value's line and leave the rest of the body as a
    // stray key; each becomes one "|".
    void loneLineBreaksNormalised_data() {
        QTest::addColumn<QString>("body");
        QTest::newRow("LF") << u"a\nb"_qs;
        QTest::newRow("CR") << u"a\rb"_qs;
        QTest::newRow("mixed") << u"a\r\nb"_qs;
    }
    void loneLineBreaksNormalised() {
        QFETCH(QString, body);
        TemplateCatalog catalog;
        QCOMPARE(saveTemplate(m_file, catalog, u"T"_qs, body).status, TemplateSaveStatus::Saved);
        QCOMPARE(readFileBytes(m_file), BOM + "\r\n[T]\r\n1 = a|b\r\n");
        QCOMPARE(catalog.at(0).body, u"a\r\nb"_qs);
        QCOMPARE(loadTemplates(m_file).at(0).body, u"a\r\nb"_qs);
    }

    void handEditedGroupUnknownToCatalog() {
        QVERIFY(writeFileBytes(m_file, TWO_TEMPLATES));
        TemplateCatalog catalog; // loaded before the group was added by hand
        const TemplateSaveResult r = saveTemplate(m_file, catalog, u"Fire drill"_qs, u"Now"_qs);
        QCOMPARE(r.status, TemplateSaveStatus::Saved);
        QVERIFY(r.appended);
        QVERIFY(readFileBytes(m_file).endsWith("[Fire drill]\r\n1 = Now\r\n"));
    }

    void nothingToSave() {
        TemplateCatalog catalog;
        QCOMPARE(saveTemplate(m_file, catalog, QString(), u"x"_qs).status, TemplateSaveStatus::NothingToSave);
        QCOMPARE(saveTemplate(m_file, catalog, u"x"_qs, QString()).status, TemplateSaveStatus::NothingToSave);
        QVERIFY(!QFile::exists(m_file));
    }

    void failedSaveIsReported() {
        TemplateCatalog catalog;
        const TemplateSaveResult r = saveTemplate(m_dir.filePath(u"missing/t.ini"_qs), catalog, u"H"_qs, u"b"_qs);
        QCOMPARE(r.status, TemplateSaveStatus::WriteFailed);
        QVERIFY(catalog.isEmpty());
    }

    void removeLeavesSingleBlankLines() {
        QVERIFY(writeFileBytes(m_file, TWO_TEMPLATES + "\r\n\r\n[Third]\r\n1 = x\r\n"));
        TemplateCatalog catalog = loadTemplates(m_file);
        QVERIFY(removeTemplate(m_file, catalog, u"fire drill"_qs, 1));
        QCOMPARE(headers(catalog), (QStringList{u"Lunch"_qs, u"Third"_qs}));
        QCOMPARE(readFileBytes(m_file), BOM + "\r\n[Lunch]\r\n1 = Lunch is served in the canteen.|Enjoy your meal!\r\n"
                                              "\r\n[Third]\r\n1 = x\r\n");
        // Nothing selected: nothing removed.
        const QByteArray before = readFileBytes(m_file);
        QVERIFY(removeTemplate(m_file, catalog, QString(), -1));
        QCOMPARE(catalog.size(), 2);
        QCOMPARE(readFileBytes(m_file), before);
        QVERIFY(!removeTemplate(m_dir.filePath(u"none.ini"_qs), catalog, u"Lunch"_qs, 0));
        QCOMPARE(catalog.size(), 2);
    }
};

QTEST_APPLESS_MAIN(TestTemplates)
#include "tst_templates.moc"
