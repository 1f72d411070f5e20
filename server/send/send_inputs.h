#pragma once

// What plinket_send reads before it sends: the console's config.ini (language, clients.ini path),
// the message text, and the recipients, ticked in a RecipientList as the console's tree would be.
// Every problem found here is an input error: the run ends with exit code 2 before anything is sent.

#include "recipient_list.h"
#include "send_command_line.h"

#include <QString>
#include <QStringList>

namespace plinket {

// What plinket_send takes from the console's config.ini in the working folder.
struct ConsoleConfig {
    QString language = QStringLiteral("RU"); // Common/Language when it is RU or EN; without a readable
                                             // config.ini, the locale's (languageOfLocale)
    QString clientsPath;                     // Paths/Clients as a local path (default ./clients.ini)
    QString warning;                         // a Language that is neither RU nor EN: say so
};
ConsoleConfig readConsoleConfig(const QString& workingDirectory);

// The message as the console's editor would hold it: every line break CR LF, trailing line breaks
// dropped (a text from `echo` or a here-document ends in one).
QString messageTextFrom(const QString& raw);
// Why `text` cannot be sent, or empty: it is empty, longer than the editor's 1000 characters, or
// holds U+0004 (the field separator: the client would take the rest as the sender) or a NUL (the
// client would stop reading there).
QString messageTextProblem(const QString& text);

struct RecipientChoice {
    RecipientList list;       // the directory's records, then one client per --host under the root
    QStringList unknownNames; // --to names that match no record
    int clients = 0;          // client records ticked
};

// `directory` is clients.ini as loadRecipients gives it (the root alone when not needed). --all and
// --broadcast tick the root; each --to name ticks every record of that name (exact, else ignoring
// letter case) as a click on its box would, so a group brings all its clients; each --host adds a
// client record (a host given twice, once) and ticks it.
RecipientChoice chooseRecipients(const RecipientList& directory, const SendOptions& options);

} // namespace plinket
