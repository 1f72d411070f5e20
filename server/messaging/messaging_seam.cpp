// The console's side of the messaging seam: the report listener and the Send controller wired to the
// main window's timer and waiting-period controls, the tree model and the message boxes.

#include "messaging_seam.h"

#include "end_program.h"
#include "language.h"
#include "main_window.h"
#include "message_box.h"
#include "messaging_controller.h"
#include "messaging_texts.h"
#include "recipient_tree_model.h"
#include "report_listener.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace plinket {

namespace {

// Shared by the listener, which judges reports by them, and the Send controller, which tells them the
// signature time of each Send. Lives until the process ends, as both do.
std::shared_ptr<WorkstationKeys> workstationKeys(const ConsoleContext& context) {
    static std::shared_ptr<WorkstationKeys> keys;
    if (!keys && !context.knownWorkstationsPath.isEmpty())
        keys = std::make_shared<WorkstationKeys>(context.knownWorkstationsPath, EventSource::Server);
    return keys;
}

} // namespace

void startReportListener(ConsoleContext& context) {
    RecipientTreeModel* model = &context.treeModel;
    const QString title = textIn(context.languageCode, TextId::errorTitle);
    const QString busy = textIn(context.languageCode, TextId::errPortBusy);
    ReportListener::Options options;
    options.keys = workstationKeys(context);
    // Lives until the process ends, like the thread itself.
    auto* listener = new ReportListener(
        context.recipients, context.recipientsLock,
        [model](const ChangedRecords& changed) { model->notifyRecordsChanged(changed); },
        [title, busy] {
            // The box belongs to the UI thread; the listener only asks for it and ends its own work.
            QMetaObject::invokeMethod(
                qApp,
                [title, busy] {
                    showMessageBox(BoxIcon::Error, title, busy);
                    endProgram();
                },
                Qt::QueuedConnection);
        },
        options);
    listener->start();
}

std::unique_ptr<DeliveryController> createDeliveryController(ConsoleContext& context) {
    MainWindow* window = &context.mainWindow;
    RecipientTreeModel* model = &context.treeModel;
    MessagingController::Hooks hooks;
    hooks.waitCount = [window] { return window->waitCount(); };
    hooks.waitUnit = [window] { return window->waitUnit(); };
    hooks.notify = [model](const ChangedRecords& changed) { model->notifyRecordsChanged(changed); };
    hooks.warnNeverShown = [](const QString& title, const QString& text) {
        showMessageBox(BoxIcon::Warning, title, text);
    };
    hooks.tellNothingSent = [window](const QString& text) { window->showSendNote(text); };
    hooks.confirmCut = [window, language = context.languageCode](const QString& title, const QString& text) {
        QString shown = text;
        shown.replace(u"\r\n"_qs, u"\n"_qs);
        QMessageBox box(QMessageBox::Warning, title, shown, QMessageBox::NoButton, window);
        box.setTextFormat(Qt::PlainText);
        QPushButton* send =
            box.addButton(messagingText(language, MessagingTextId::sendAnyway), QMessageBox::AcceptRole);
        QPushButton* cancel =
            box.addButton(messagingText(language, MessagingTextId::cancelSend), QMessageBox::RejectRole);
        // Cancel is the default: Enter alone does not send a message that will arrive cut.
        box.setDefaultButton(cancel);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == send;
    };
    hooks.signingKey = context.signingKey;
    hooks.workstationKeys = workstationKeys(context);
    return std::make_unique<MessagingController>(context.recipients, context.recipientsLock, context.broadcast,
                                                 window->deliveryTimer(), context.languageCode, context.senderName,
                                                 std::move(hooks));
}

} // namespace plinket
