#pragma once

// One scripted send, on the console's own messaging core: the ReportListener on UDP 47128, the
// MessagingController's Send (the same message id rules, size checks, SendWorker and delivery round
// as the console's Send button), and the round closed as the console's deliveryTimer closes it,
// with event 101 under the source "Plinket Send".
//
// The round ends when the waiting period is over, or earlier once every recipient has reached the
// required state or can no longer be reached (its host gave no address), or when the process is
// asked to stop: the round is then closed with the states as they stand, so it is still recorded.
// Without waiting (--wait 0) the run ends as soon as the SendWorker has walked the list, and the
// record says for each recipient whether its datagram left ("Sent") or not ("Not delivered").

#include "broadcast_setting.h"
#include "message_signature.h"
#include "recipient_list.h"
#include "report_listener.h"
#include "send_command_line.h"
#include "send_output.h"
#include "send_platform.h"

#include <QMutex>
#include <QString>

#include <functional>
#include <memory>

namespace plinket {

struct SendSetup {
    RecipientList& recipients; // ticked; the run owns them until it returns
    QMutex& recipientsLock;
    BroadcastSetting& broadcast; // enabled with an address for --broadcast
    QString language;            // "EN" or "RU": field 1 of the datagram and the words of the record
    QString senderName;          // this computer's host name, upper-cased
    QString text;                // CR LF line breaks
    int waitSeconds = 60;
    Requirement require = Requirement::Confirmed;
    bool showProgress = false;                             // a progress line on standard error
    std::function<void(const QString&)> warn;              // one line for standard error
    std::function<void(const QString&)> progress;          // the progress line (empty: clear it)
    std::shared_ptr<const SigningKey> signingKey = {};     // the console's signing.key; none: unsigned
    std::shared_ptr<WorkstationKeys> workstationKeys = {}; // known-workstations beside clients.ini
};

enum class SendEnd {
    Finished, // the round ran and was closed; `outcome` holds it
    PortBusy, // the report port is taken and reports were wanted: nothing was sent
    Refused,  // the text does not fit what a client accepts: nothing was sent, `refusal` says why
};

struct SendRun {
    SendEnd end = SendEnd::Finished;
    QString refusal;
    SendOutcome outcome;
    // The report listener, already asked to stop: its thread ends within a quarter of a second, while
    // the caller prints the outcome; destroying the run waits for it. Destroy the run before the
    // recipients and their lock.
    std::unique_ptr<ReportListener> listener;
};

// Runs the send to its end (it runs its own event loop; a QCoreApplication must exist).
SendRun runSend(const SendSetup& setup);

} // namespace plinket
