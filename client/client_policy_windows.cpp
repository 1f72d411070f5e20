#include "client_policy.h"

#include <shlobj.h>
#include <windows.h>

namespace plinket {

// %ProgramData%\Plinket (normally C:\ProgramData\Plinket): machine-wide, writable by administrators only.
QString clientPolicyDirectory() {
    PWSTR programData = nullptr;
    QString folder = QStringLiteral("C:\\ProgramData");
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &programData)))
        folder = QString::fromWCharArray(programData);
    CoTaskMemFree(programData);
    return folder + QStringLiteral("\\Plinket");
}

} // namespace plinket
