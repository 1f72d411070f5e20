#pragma once

// The workstation's policy for signed messages, read once at start-up from a system-wide folder that
// only administrators can change (Linux /etc/plinket, Windows %ProgramData%\Plinket):
//
//   client.conf      "name = value" lines; "#" and ";" begin comments
//                      require-signature = no | yes   (default no)
//                      max-message-age = 600          seconds a signed message may differ from this
//                                                     computer's clock (default 600, 1 to 86400)
//                      hold-time = 600                seconds the host agent keeps a message while no
//                                                     user session can show it (default 600, 1 to 86400)
//   trusted-keys/    the public keys of the consoles whose messages are trusted: every file whose name
//                    ends in ".pub" (what plinket_server --generate-key writes)
//
// No trusted key and no requirement (a workstation without the folder): the client checks nothing and
// behaves exactly as it always has. A setting it cannot understand, or a client.conf it cannot read,
// counts as require-signature = yes, so a mistake never opens the workstation to unsigned messages;
// each such problem is returned for the start-up output.

#include "message_signature.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace plinket {

inline constexpr qint64 DEFAULT_MAX_MESSAGE_AGE_SECONDS = 600;
inline constexpr qint64 LONGEST_MAX_MESSAGE_AGE_SECONDS = 86400;
inline constexpr qint64 DEFAULT_HOLD_SECONDS = 600;

struct ClientPolicy {
    QList<PublicKey> trustedKeys;
    bool requireSignature = false;
    qint64 maxMessageAgeSeconds = DEFAULT_MAX_MESSAGE_AGE_SECONDS;
    qint64 holdSeconds = DEFAULT_HOLD_SECONDS;
    QStringList problems; // "path: line N: what", one per problem found

    // False: messages are taken as they come, nothing is checked.
    bool checksSignatures() const { return requireSignature || !trustedKeys.isEmpty(); }
};

// The folder of this platform (Linux "/etc/plinket").
QString clientPolicyDirectory();

// Reads client.conf and trusted-keys/*.pub from `directory`; a missing file or folder is no problem.
ClientPolicy loadClientPolicy(const QString& directory);

} // namespace plinket
