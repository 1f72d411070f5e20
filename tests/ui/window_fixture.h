#pragma once

// A main window as the console builds it, in a temporary working folder, for widget tests.

#include "broadcast_setting.h"
#include "client_directory.h"
#include "console_icons.h"
#include "main_window.h"
#include "recipient_tree_model.h"
#include "status_images.h"
#include "templates.h"
#include "test_files.h"

#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace plinket::test {

// Counts what the window hands to the messaging code.
class RecordingController final : public DeliveryController {
public:
    void onSend(const QString& text) override { sent.append(text); }
    void onDeliveryTimer() override { ++expiries; }
    void onMainWindowClosing() override { ++closings; }

    QStringList sent;
    int expiries = 0;
    int closings = 0;
};

struct WindowFixture {
    explicit WindowFixture(const QByteArray& templatesIni = {}, QStringView language = u"EN",
                           const QByteArray& clientsIni = {}) {
        if (!templatesIni.isEmpty())
            writeFileBytes(templatesPath(), templatesIni);
        if (!clientsIni.isEmpty()) {
            writeFileBytes(dir.filePath(QStringLiteral("clients.ini")), clientsIni);
            recipients = loadRecipients(dir.filePath(QStringLiteral("clients.ini")));
        }
        window = std::make_unique<MainWindow>(MainWindowTexts::inLanguage(language), drawConsoleIcons(), templates,
                                              templatesPath(), broadcast, 5, 1);
        model = std::make_unique<RecipientTreeModel>(recipients, lock, QStringLiteral("All clients"),
                                                     drawStatusImages(Qt::white));
        window->setRecipientModel(model.get());
        window->setDeliveryController(&controller);
    }
    ~WindowFixture() {
        window.reset(); // before the model it shows
    }

    QString templatesPath() const { return dir.filePath(QStringLiteral("templates.ini")); }

    template <typename T> T* child(const char* name) const { return window->findChild<T*>(QString::fromLatin1(name)); }

    bool showAndWait() {
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }

    QTemporaryDir dir;
    TemplateCatalog templates;
    BroadcastSetting broadcast;
    RecipientList recipients;
    QMutex lock;
    RecordingController controller;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<RecipientTreeModel> model;
};

} // namespace plinket::test
