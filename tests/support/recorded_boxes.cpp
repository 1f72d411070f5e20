#include "recorded_boxes.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace plinket::test {

namespace {

MessageBoxLog* g_log = nullptr;

constexpr std::pair<BoxIcon, const char16_t*> ICON_NAMES[] = {
    {BoxIcon::None, u"none"}, {BoxIcon::Warning, u"warning"}, {BoxIcon::Error, u"error"}};

void recordInLog(const ShownMessageBox& box) {
    if (g_log)
        g_log->boxes.append(box);
}

} // namespace

MessageBoxLog::MessageBoxLog() {
    g_log = this;
    setMessageBoxSink(recordInLog);
}
MessageBoxLog::~MessageBoxLog() {
    setMessageBoxSink(nullptr);
    g_log = nullptr;
}

void appendMessageBoxToFile(const QString& path, const ShownMessageBox& box) {
    QString icon;
    for (const auto& [value, name] : ICON_NAMES)
        if (value == box.icon)
            icon = QString::fromUtf16(name);
    QFile file(path);
    if (file.open(QIODevice::Append)) {
        const QJsonObject o{{u"icon"_qs, icon}, {u"title"_qs, box.title}, {u"text"_qs, box.text}};
        file.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
    }
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
        ShownMessageBox box{BoxIcon::None, o.value(u"title"_qs).toString(), o.value(u"text"_qs).toString()};
        for (const auto& [value, name] : ICON_NAMES)
            if (o.value(u"icon"_qs).toString() == QStringView(name))
                box.icon = value;
        boxes.append(box);
    }
    return boxes;
}

} // namespace plinket::test
