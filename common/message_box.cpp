#include "message_box.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>

namespace plinket {

namespace {

MessageBoxLog* g_log = nullptr;

QString iconName(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Warning:
        return QStringLiteral("warning");
    case BoxIcon::Error:
        return QStringLiteral("error");
    case BoxIcon::None:
        break;
    }
    return QStringLiteral("none");
}

BoxIcon iconFromName(const QString& name) {
    if (name == u"warning")
        return BoxIcon::Warning;
    if (name == u"error")
        return BoxIcon::Error;
    return BoxIcon::None;
}

bool appendToTestFile(const ShownMessageBox& box) {
    const QString path = qEnvironmentVariable("PLINKET_TEST_MESSAGE_BOXES");
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (file.open(QIODevice::Append)) {
        const QJsonObject o{{QStringLiteral("icon"), iconName(box.icon)},
                            {QStringLiteral("title"), box.title},
                            {QStringLiteral("text"), box.text}};
        file.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
    }
    return true;
}

} // namespace

MessageBoxLog::MessageBoxLog() {
    g_log = this;
}
MessageBoxLog::~MessageBoxLog() {
    g_log = nullptr;
}

void showMessageBox(BoxIcon icon, const QString& title, const QString& text) {
    const ShownMessageBox box{icon, title, text};
    if (g_log) {
        g_log->boxes.append(box);
        return;
    }
    if (appendToTestFile(box))
        return;
    QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
    if (icon == BoxIcon::Warning)
        qtIcon = QMessageBox::Warning;
    else if (icon == BoxIcon::Error)
        qtIcon = QMessageBox::Critical;
    // A lone CR is a line break in these texts; Qt's plain-text label breaks only at LF.
    QString shown = text;
    shown.replace(u"\r\n"_qs, u"\n"_qs).replace(u'\r', u'\n');
    QMessageBox messageBox(qtIcon, title, shown, QMessageBox::Ok, QApplication::activeWindow());
    messageBox.setTextFormat(Qt::PlainText);
    messageBox.exec();
}

QList<ShownMessageBox> readMessageBoxFile(const QString& path) {
    QList<ShownMessageBox> boxes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    while (!file.atEnd()) {
        const QJsonObject o = QJsonDocument::fromJson(file.readLine()).object();
        if (o.isEmpty())
            continue;
        boxes.append({iconFromName(o.value(u"icon"_qs).toString()), o.value(u"title"_qs).toString(),
                      o.value(u"text"_qs).toString()});
    }
    return boxes;
}

} // namespace plinket
