#include "test_files.h"

#include <QDir>

#include <windows.h>

#include <aclapi.h>

namespace plinket::test {

bool letOthersRead(const QString& path) {
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return false;
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof everyone;
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = GENERIC_READ;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
    PACL widened = nullptr;
    bool ok = CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidSize) &&
              SetEntriesInAclW(1, &access, dacl, &widened) == ERROR_SUCCESS &&
              SetNamedSecurityInfoW(const_cast<LPWSTR>(name.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, widened, nullptr) == ERROR_SUCCESS;
    LocalFree(widened);
    LocalFree(descriptor);
    return ok;
}

bool unixFiles() {
    return false;
}

bool keepPrivate(const QString&) {
    return true; // a new file takes the access list of its folder, the user's own temporary folder
}

bool makeFifo(const QString&) {
    return false;
}

bool giveToNobody(const QString&) {
    return false;
}

bool runningAsRoot() {
    return false;
}

} // namespace plinket::test
