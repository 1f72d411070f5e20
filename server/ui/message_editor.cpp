#include "message_editor.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>

namespace plinket {

MessageEditor::MessageEditor(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setTabChangesFocus(true);
}

QString MessageEditor::messageText() const {
    QString text = toPlainText();
    text.replace(u'\n', u"\r\n"_qs);
    return text;
}

void MessageEditor::setMessageText(const QString& text) {
    QString plain = text;
    plain.replace(u"\r\n"_qs, u"\n"_qs).replace(u'\r', u'\n');
    setPlainText(plain);
}

int MessageEditor::room() const {
    const QTextCursor cursor = textCursor();
    const int selected = cursor.selectionEnd() - cursor.selectionStart();
    return MAX_MESSAGE_LENGTH - (static_cast<int>(toPlainText().size()) - selected);
}

void MessageEditor::keyPressEvent(QKeyEvent* event) {
    // Anything that inserts text: a printable character, Enter (one line break), Tab is focus.
    const bool commandKey = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const QString text = event->text();
    const bool inserts = !commandKey && !text.isEmpty() && (text.at(0).isPrint() || text.at(0) == u'\r');
    if (inserts && room() < text.size()) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void MessageEditor::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (!commit.isEmpty() && room() < commit.size()) {
        // Composed text that does not fit is cut like a paste.
        QInputMethodEvent cut(event->preeditString(), event->attributes());
        cut.setCommitString(commit.left(std::max(0, room())), event->replacementStart(), event->replacementLength());
        QPlainTextEdit::inputMethodEvent(&cut);
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}

void MessageEditor::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText())
        return;
    QString text = source->text();
    text.replace(u"\r\n"_qs, u"\n"_qs).replace(u'\r', u'\n');
    const int fits = std::max(0, room());
    if (text.size() > fits) {
        text.truncate(fits);
        // Never keep half of a surrogate pair.
        if (!text.isEmpty() && text.back().isHighSurrogate())
            text.chop(1);
    }
    textCursor().insertText(text);
    ensureCursorVisible();
}

} // namespace plinket
