#include "recorded_boxes.h"
#include "window_fixture.h"

#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace plinket;
using plinket::test::BOM;
using plinket::test::MessageBoxLog;
using plinket::test::readFileBytes;
using plinket::test::WindowFixture;

namespace {

const QByteArray TWO_TEMPLATES = BOM + "\r\n[Lunch]\r\n1 = Lunch is served.|Enjoy!\r\n\r\n"
                                       "[Fire drill]\r\n1 = Fire drill at 15:00.\r\n";

} // namespace

class TestTemplateList final : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> f;
    QListWidget* list = nullptr;
    QPlainTextEdit* editor = nullptr;

    QPoint itemCentre(int row) const {
        return list->viewport()->mapToGlobal(list->visualItemRect(list->item(row)).center());
    }
    static QWidget* at(QWidget* control, const QPoint& global, QPoint* local) {
        *local = control->mapFromGlobal(global);
        return control;
    }

private slots:
    void init() {
        f = std::make_unique<WindowFixture>(TWO_TEMPLATES);
        f->window->applyGeometry(WindowGeometry{NO_POSITION, NO_POSITION, 455, 300, 80, 260});
        QVERIFY(f->showAndWait());
        list = f->child<QListWidget>("templateList");
        editor = f->child<QPlainTextEdit>("messageEditor");
    }
    void cleanup() { f.reset(); }

    void loadedInFileOrder() {
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), u"Lunch"_qs);
        QCOMPARE(list->item(1)->text(), u"Fire drill"_qs);
        QCOMPARE(f->window->selectedTemplate(), -1);
    }

    void selectingLoadsTheBody() {
        editor->setPlainText(u"draft"_qs);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        QCOMPARE(editor->toPlainText(), u"Lunch is served.\nEnjoy!"_qs);
        QCOMPARE(f->window->messageText(), u"Lunch is served.\r\nEnjoy!"_qs);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(editor->toPlainText(), u"Fire drill at 15:00."_qs);
        // Clicking the selected entry again loads it again over an edited text.
        editor->setPlainText(u"edited"_qs);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
        QCOMPARE(editor->toPlainText(), u"Fire drill at 15:00."_qs);
    }

    // Right button pressed over one control and released over another.
    void rightClick_data() {
        QTest::addColumn<QString>("pressOver");
        QTest::addColumn<QString>("releaseOver");
        QTest::addColumn<QString>("menu");
        QTest::addColumn<int>("selected");
        QTest::newRow("on a template") << u"template 1"_qs << u"template 1"_qs << u"templateMenu"_qs << 1;
        QTest::newRow("editor") << u"editor"_qs << u"editor"_qs << u"editorMenu"_qs << -1;
        QTest::newRow("editor, released on a template") << u"editor"_qs << u"template 0"_qs << u"templateMenu"_qs << 0;
        QTest::newRow("editor, released on a button") << u"editor"_qs << u"send"_qs << QString() << -1;
        QTest::newRow("template, released in the editor") << u"template 1"_qs << u"editor"_qs << QString() << 1;
    }
    void rightClick() {
        QFETCH(QString, pressOver);
        QFETCH(QString, releaseOver);
        QFETCH(QString, menu);
        QFETCH(int, selected);
        auto globalOf = [this](const QString& where) {
            if (where.startsWith(u"template"))
                return itemCentre(where.back().digitValue());
            if (where == u"editor")
                return editor->viewport()->mapToGlobal(QPoint(20, 20));
            return f->child<QWidget>("sendButton")->mapToGlobal(QPoint(10, 10));
        };
        editor->setPlainText(u"kept"_qs);
        QWidget* pressed = pressOver == u"editor" ? editor->viewport() : list->viewport();
        const QPoint down = pressed->mapFromGlobal(globalOf(pressOver));
        // The release goes to the control that got the press, wherever the pointer is.
        const QPoint up = pressed->mapFromGlobal(globalOf(releaseOver));
        QTest::mousePress(pressed, Qt::RightButton, {}, down);
        QTest::mouseRelease(pressed, Qt::RightButton, {}, up);

        QCOMPARE(f->window->selectedTemplate(), selected);
        QCOMPARE(editor->toPlainText(), u"kept"_qs); // a right-click never loads a template
        QCOMPARE(f->window->editorMenu()->isVisible(), menu == u"editorMenu");
        QCOMPARE(f->window->templateMenu()->isVisible(), menu == u"templateMenu");
        f->window->editorMenu()->close();
        f->window->templateMenu()->close();
    }

    void removeActsOnTheSelectedTemplate() {
        QPoint local = list->viewport()->mapFromGlobal(itemCentre(0));
        QTest::mousePress(list->viewport(), Qt::RightButton, {}, local);
        QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, local);
        QTRY_VERIFY(f->window->templateMenu()->isVisible());
        f->window->templateMenu()->actions().first()->trigger();
        f->window->templateMenu()->close();
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), u"Fire drill"_qs);
        QCOMPARE(f->templates.size(), 1);
        QCOMPARE(readFileBytes(f->templatesPath()), BOM + "\r\n[Fire drill]\r\n1 = Fire drill at 15:00.\r\n");
        // Nothing selected now: Remove changes nothing.
        QCOMPARE(f->window->selectedTemplate(), -1);
        f->window->removeSelectedTemplate();
        QCOMPARE(list->count(), 1);
        QCOMPARE(f->templates.size(), 1);
    }

    void saveTemplate_data() {
        QTest::addColumn<int>("select");
        QTest::addColumn<QString>("editorText");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("quoted, new") << -1 << u"  \"Coffee\" Coffee in the kitchen.\nFresh. "_qs
                                     << QStringList{u"Lunch"_qs, u"Fire drill"_qs, u"Coffee"_qs}
                                     << (TWO_TEMPLATES + "\r\n[Coffee]\r\n1 = Coffee in the kitchen.|Fresh.\r\n");
        QTest::newRow("quoted, existing in other case")
            << -1 << u"\"lunch\" Soup today"_qs << QStringList{u"Lunch"_qs, u"Fire drill"_qs}
            << (BOM + "\r\n[Lunch]\r\n1 = Soup today\r\n\r\n[Fire drill]\r\n1 = Fire drill at 15:00.\r\n");
        QTest::newRow("selected gets the editor text")
            << 1 << u"Drill moved to 16:00."_qs << QStringList{u"Lunch"_qs, u"Fire drill"_qs}
            << (BOM +
                "\r\n[Lunch]\r\n1 = Lunch is served.|Enjoy!\r\n\r\n[Fire drill]\r\n1 = Drill moved to 16:00.\r\n");
        QTest::newRow("no quote, nothing selected")
            << -1 << u"Just text"_qs << QStringList{u"Lunch"_qs, u"Fire drill"_qs} << TWO_TEMPLATES;
        QTest::newRow("header without body")
            << -1 << u"\"Empty\"  "_qs << QStringList{u"Lunch"_qs, u"Fire drill"_qs} << TWO_TEMPLATES;
    }
    void saveTemplate() {
        QFETCH(int, select);
        QFETCH(QString, editorText);
        QFETCH(QStringList, entries);
        QFETCH(QByteArray, file);
        if (select >= 0)
            list->setCurrentRow(select);
        editor->setPlainText(editorText);
        QTest::mouseClick(f->child<QWidget>("saveTemplateButton"), Qt::LeftButton);
        QStringList shown;
        for (int i = 0; i < list->count(); ++i)
            shown.append(list->item(i)->text());
        QCOMPARE(shown, entries);
        QCOMPARE(readFileBytes(f->templatesPath()), file);
        // The editor and the selection are left as they were.
        QCOMPARE(editor->toPlainText(), editorText);
        QCOMPARE(f->window->selectedTemplate(), select);
    }

    void saveFailureShowsTheBox() {
        WindowFixture broken;
        // A folder in place of the file: it can be neither read nor written.
        QVERIFY(QDir().mkpath(broken.templatesPath()));
        MessageBoxLog boxes;
        broken.child<QPlainTextEdit>("messageEditor")->setPlainText(u"\"Lunch\" Lunch is served."_qs);
        broken.window->saveTemplateFromEditor();
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].icon, BoxIcon::None);
        QCOMPARE(boxes.boxes[0].title, u"Error!"_qs);
        QCOMPARE(boxes.boxes[0].text, u"Can't save template!"_qs);
        QCOMPARE(broken.child<QListWidget>("templateList")->count(), 0);
    }
};

QTEST_MAIN(TestTemplateList)
#include "tst_template_list.moc"
