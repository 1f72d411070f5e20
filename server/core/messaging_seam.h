#pragma once

// Where the messaging code (dispatch, report listener, delivery rounds) plugs into the console.
// The console calls the two functions below at fixed moments of its start-up; plinket_messaging
// defines them, so the window and start-up code never depend on how messages travel.
//
// Everything in the context lives until the process ends (the console never returns from its
// start-up function: it leaves through endProgram), so threads may keep references to it.

#include "broadcast_setting.h"
#include "delivery_controller.h"
#include "message_signature.h"
#include "recipient_list.h"

#include <QMutex>
#include <QString>

#include <memory>

namespace plinket {

class MainWindow;
class RecipientTreeModel;

struct ConsoleContext {
    RecipientList& recipients;
    // Guards every field of every record; held by the UI thread only for short updates, and no
    // thread may wait for the UI thread while holding it.
    QMutex& recipientsLock;
    // Broadcast mode and address, read as one snapshot per send.
    BroadcastSetting& broadcast;
    // deliveryTimer(), waitCount(), waitUnit(), messageText(); UI thread only.
    MainWindow& mainWindow;
    // After changing records from another thread (lock released): notifyRecordsChanged(changed).
    RecipientTreeModel& treeModel;
    QString languageCode; // "RU" or "EN", the code in effect: field 1 of every message
    QString senderName;   // this computer's host name, upper-cased; set before createDeliveryController
    // The console's signing key (signing_key_file.h); none: messages go out unsigned.
    std::shared_ptr<const SigningKey> signingKey = {};
    // The file of pinned workstation report keys, beside clients.ini (workstation_keys.h).
    QString knownWorkstationsPath = {};
};

// Start-up, once the main window is shown: starts the report listener thread. A listener that
// cannot open its port shows errPortBusy and calls endProgram.
void startReportListener(ConsoleContext& context);

// Start-up, right before the event loop: the object that handles Send, the end of the waiting
// period and the close of the main window. The console keeps it until the process ends.
std::unique_ptr<DeliveryController> createDeliveryController(ConsoleContext& context);

} // namespace plinket
