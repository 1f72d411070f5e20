#include "message_editor.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

using namespace plinket;

class TestMessageEditor final : public QObject {
    Q_OBJECT

private slots:
    // Typing and pasting stop at 1000 characters; text set by the program is not cut.
    void limit_data() {
        QTest::addColumn<int>("before");     // characters already in the editor
        QTest::addColumn<int>("selected");   // of them selected, replaced by the input
        QTest::addColumn<QString>("pasted"); // empty: type "xyz" instead
        QTest::addColumn<int>("after");
        QTest::newRow("typing below the limit") << 10 << 0 << QString() << 13;
        QTest::newRow("typing at the limit") << 999 << 0 << QString() << 1000;
        QTest::newRow("typing over a selection at the limit") << 1000 << 5 << QString() << 998;
        QTest::newRow("paste cut to the room left") << 990 << 0 << QString(50, u'p') << 1000;
        QTest::newRow("paste replacing a selection") << 1000 << 20 << QString(50, u'p') << 1000;
        QTest::newRow("paste with CR LF counts one per break") << 996 << 0 << u"a\r\nb\r\nc"_qs << 1000;
        QTest::newRow("paste into a full editor") << 1000 << 0 << u"more"_qs << 1000;
    }
    void limit() {
        QFETCH(int, before);
        QFETCH(int, selected);
        QFETCH(QString, pasted);
        QFETCH(int, after);
        MessageEditor editor;
        editor.setPlainText(QString(before, u'a'));
        QTextCursor cursor = editor.textCursor();
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, selected);
        editor.setTextCursor(cursor);
        if (pasted.isEmpty()) {
            QTest::keyClicks(&editor, u"xyz"_qs);
        } else {
            QApplication::clipboard()->setText(pasted);
            editor.paste();
        }
        QCOMPARE(editor.toPlainText().size(), after);
    }

    void enterCountsAsOneCharacter() {
        MessageEditor editor;
        editor.setPlainText(QString(999, u'a'));
        editor.moveCursor(QTextCursor::End);
        QTest::keyClick(&editor, Qt::Key_Return);
        QTest::keyClick(&editor, Qt::Key_Return);
        QCOMPARE(editor.toPlainText().size(), 1000);
        QCOMPARE(editor.messageText(), QString(999, u'a') + u"\r\n"_qs);
    }

    void pasteNeverSplitsASurrogatePair() {
        MessageEditor editor;
        editor.setPlainText(QString(999, u'a'));
        editor.moveCursor(QTextCursor::End);
        QApplication::clipboard()->setText(u"😀😀"_qs);
        editor.paste();
        QCOMPARE(editor.toPlainText().size(), 999);
    }

    void programTextIsNotCut() {
        MessageEditor editor;
        editor.setMessageText(QString(1500, u'b') + u"\r\nc\rd"_qs);
        QCOMPARE(editor.toPlainText().size(), 1504);
        QCOMPARE(editor.messageText().right(6), u"\r\nc\r\nd"_qs);
    }
};

QTEST_MAIN(TestMessageEditor)
#include "tst_message_editor.moc"
