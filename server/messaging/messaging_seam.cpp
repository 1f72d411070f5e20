// The console's side of the messaging seam: the report listener and the Send controller wired to the
// main window's timer and waiting-period controls, the tree model and the message boxes.

#include "messaging_seam.h"

#include "end_program.h"
#include "language.h"
#include "main_window.h"
#include "message_box.h"
#include "messaging_controller.h"
#include "messaging_texts.h"
#include "probe_round.h"
#include "recipient_tree_model.h"
#include "report_listener.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThreadPool>

#include <chrono>

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

// Who is listening, for the tree's tooltips: a tooltip of a group or client whose members were not probed
// within the last minute sends them probes (off the UI thread: names may take a while to resolve) and
// shows what is known; the answers come in through the report listener and refresh a tooltip on screen.
void answerTooltipsWithProbes(ConsoleContext& context, ReportListener::Options& options) {
    static ProbeCache cache; // lives until the process ends, as the listener thread does
    RecipientTreeModel* model = &context.treeModel;
    options.probeAnswer = [model](const ProbeAnswer& answer) {
        if (cache.answered(answer))
            model->notifyRecordsChanged({0});
    };
    model->setListeningLine([language = context.languageCode](const QStringList& hosts, bool group) {
        const qint64 nowMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
        if (QStringList due = cache.takeDue(hosts, nowMs); !due.isEmpty())
            QThreadPool::globalInstance()->start([due = std::move(due)] {
                sendProbes(due, MESSAGE_PORT, [](const ProbeTarget& target) { cache.sent(target); });
            });
        if (!group)
            return probeMemberLine(cache.entryOf(hosts.value(0)), language);
        QList<ProbeCache::Entry> entries;
        entries.reserve(hosts.size());
        for (const QString& host : hosts)
            entries.append(cache.entryOf(host));
        return probeGroupLine(entries, language);
    });
}

} // namespace

void startReportListener(ConsoleContext& context) {
    RecipientTreeModel* model = &context.treeModel;
    const QString title = textIn(context.languageCode, TextId::errorTitle);
    const QString busy = textIn(context.languageCode, TextId::errPortBusy);
    ReportListener::Options options;
    options.keys = workstationKeys(context);
    answerTooltipsWithProbes(context, options);
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
