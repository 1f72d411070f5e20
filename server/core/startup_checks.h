#pragma once

// The start-up checks report in one box: the networking failure first, then the client directory
// failure after a CR LF when both failed.

#include <QString>

namespace plinket {

// Empty when both checks passed. Texts in the language in effect (errTcpInit, errClientsFile).
QString startupErrorText(bool networkReady, bool clientsFileReady);

} // namespace plinket
