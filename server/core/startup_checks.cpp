#include "startup_checks.h"

#include "language.h"

namespace plinket {

QString startupErrorText(bool networkReady, bool clientsFileReady) {
    QString errorText;
    if (!networkReady)
        errorText = text(TextId::errTcpInit);
    if (!clientsFileReady) {
        if (!errorText.isEmpty())
            errorText += u"\r\n"_qs;
        errorText += text(TextId::errClientsFile);
    }
    return errorText;
}

} // namespace plinket
