#pragma once

// The console's signing key, kept beside config.ini in the working folder:
//   signing.key  the secret key: a regular file of the user running the console, that nobody else may read
//                or change (guarded_file.h); message_signature.h gives the text
//   signing.pub  the public key, a small text file the administrator copies to every workstation's
//                trusted-keys folder
// With no signing.key the console sends unsigned messages, byte for byte as it always has.

#include "message_signature.h"

#include <QString>

#include <memory>

namespace plinket {

inline constexpr auto SIGNING_KEY_FILE_NAME = u"signing.key";
inline constexpr auto PUBLIC_KEY_FILE_NAME = u"signing.pub";

struct SigningKeyFile {
    enum class State {
        Absent,  // no signing.key: messages go out unsigned
        Ready,   // `key` holds it
        Refused, // not a regular file, someone else's, open to other users, or unreadable: `problem` says
        Damaged, // refused: it holds no secret key in the expected form
    };
    State state = State::Absent;
    QString path;
    QString problem;
    std::shared_ptr<const SigningKey> key;
};

// Looks for signing.key in `directory` (which ends in a separator, as the console's working folder).
SigningKeyFile loadSigningKey(const QString& directory);

struct KeyGeneration {
    bool ok = false;
    QString secretKeyPath;
    QString publicKeyPath;
    QByteArray keyId;
    QString error; // when not ok: what went wrong, with the path concerned
};

// Writes a new key pair into `directory`: signing.key (owner only) and signing.pub (readable by everyone),
// each created new, never replacing a file and never following a link put in its place (an existing key
// may be trusted by workstations). `consoleName` and the time go into the public key's comment.
KeyGeneration generateSigningKey(const QString& directory, const QString& consoleName);

// What the console prints after generating a key: the two paths, the key id and what to do next; or the
// error. English, several lines, ending with a line break.
QString keyGenerationReport(const KeyGeneration& result);

} // namespace plinket
