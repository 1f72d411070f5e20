#pragma once

// The workstation's policy for signed messages, read at start-up, and again when it changes
// (policy_watcher.h), from a system-wide folder that only administrators can change (Linux /etc/plinket,
// Windows %ProgramData%\Plinket):
//
//   client.conf      "name = value" lines; "#" and ";" begin comments
//                      require-signature = no | yes   (default no)
//                      max-message-age = 600          seconds a signed message may differ from this
//                                                     computer's clock (default 600, 1 to 86400)
//                      hold-time = 600                seconds the host agent keeps a message while no
//                                                     user session can show it (default 600, 1 to 86400)
//   trusted-keys/    the public keys of the consoles whose messages are trusted: every file whose name
//                    ends in ".pub" (what plinket_server --generate-key writes); the pop-up names the
//                    signer by the name after the key on its line, else by the file name without ".pub"
//   workstation.key  this workstation's own secret key, with which it signs its reports for signed
//                    messages (made when missing, where the folder lets us)
//
// Every file and the folder are checked as guarded_file.h says (owned by root, changed by nobody else;
// the workstation key: the user the client runs as, nobody else) and opened without blocking. A file
// that fails is not used and said why: a refused client.conf counts as require-signature = yes, a refused
// trusted-keys folder trusts no key and requires signatures, a refused key file is skipped.
//
// No trusted key and no requirement (a workstation without the folder): the client checks nothing and
// behaves exactly as it always has. A setting it cannot understand, or a client.conf it cannot read,
// counts as require-signature = yes, so a mistake never opens the workstation to unsigned messages;
// each such problem is returned for the journal (event 110) and the start-up output.

#include "message_signature.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace plinket {

inline constexpr qint64 DEFAULT_MAX_MESSAGE_AGE_SECONDS = 600;
inline constexpr qint64 LONGEST_MAX_MESSAGE_AGE_SECONDS = 86400;
inline constexpr qint64 DEFAULT_HOLD_SECONDS = 600;

// A file of the policy that is refused or not used as it stands, and why ("line 3: ...").
struct PolicyProblem {
    QString path;
    QString reason;
};

struct ClientPolicy {
    QList<PublicKey> trustedKeys;
    QStringList trustedKeyNames; // one per key: the signer's name the pop-up shows
    bool requireSignature = false;
    qint64 maxMessageAgeSeconds = DEFAULT_MAX_MESSAGE_AGE_SECONDS;
    qint64 holdSeconds = DEFAULT_HOLD_SECONDS;
    QList<PolicyProblem> problems;

    // False: messages are taken as they come, nothing is checked.
    bool checksSignatures() const { return requireSignature || !trustedKeys.isEmpty(); }
};

// The folder of this platform (Linux "/etc/plinket").
QString clientPolicyDirectory();

// Reads client.conf and trusted-keys/*.pub from `directory`; a missing file or folder is no problem.
ClientPolicy loadClientPolicy(const QString& directory);

// The two parts of it, each read on its own so that a re-read can keep the part it cannot use:
// client.conf (requireSignature, the two times) and trusted-keys (the keys and their names; a refused
// folder sets requireSignature). combinedPolicy() joins them as loadClientPolicy() does.
ClientPolicy loadClientSettings(const QString& directory);
ClientPolicy loadTrustedKeys(const QString& directory);
ClientPolicy combinedPolicy(const ClientPolicy& settings, const ClientPolicy& keys);

// What differs from `before` to `after`, short and without key material, for the journal:
// "require-signature yes -> no; trusted keys: 2 -> 3". Empty when nothing that counts differs.
QString describePolicyChange(const ClientPolicy& before, const ClientPolicy& after);

inline constexpr auto WORKSTATION_KEY_FILE_NAME = u"workstation.key";

struct WorkstationKey {
    std::shared_ptr<const SigningKey> key; // none: reports go out unsigned, as always
    bool made = false;                     // it was missing and has just been made
    std::optional<PolicyProblem> problem;  // refused, damaged, or could not be made
};
// The workstation's own key, workstation.key in `directory`. A missing key is made when `make` is set and
// the folder lets this user create a file there; a folder that does not (or no folder) is no problem.
WorkstationKey loadWorkstationKey(const QString& directory, bool make);

} // namespace plinket
