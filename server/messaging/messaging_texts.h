#pragma once

// Texts the messaging code adds to the interface: the warnings shown before a message that a
// client would cut or drop is sent, the note that a Send reached nobody, and the boxes about the signing
// key. Same shape as the language tables: Russian and English.

#include <QString>
#include <QStringView>

namespace plinket {

enum class MessagingTextId {
    oversizeTitle,      // title of both warnings
    oversizeNeverShown, // %1 = bytes; the message is not sent
    oversizeCut,        // %1 = bytes; a question: send anyway?
    sendAnyway,         // the button that sends a message that will arrive cut
    cancelSend,         // the button that keeps it in the editor
    nothingSent,        // shown at the Send button when a Send reached nobody
    oversizeSigned,     // %1 = bytes; a signed message the client would cut is not sent
    keyRefused,         // %1 = path of the secret key, %2 = why (guarded_file.h); the console ends
    keyDamaged,         // %1 = path
};

// The text in the given language ("EN" gives English, anything else Russian).
QString messagingText(QStringView languageCode, MessagingTextId id);

} // namespace plinket
