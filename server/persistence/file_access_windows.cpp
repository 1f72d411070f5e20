#include "file_access.h"

#include <QDir>

#include <windows.h>

#include <aclapi.h>

namespace plinket {

namespace {

std::wstring nativePath(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

// The file's discretionary access control list, in a self-relative security descriptor.
std::optional<FileAccess> readFileAccess(const QString& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(nativePath(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return std::nullopt;
    FileAccess access{
        QByteArray(static_cast<const char*>(descriptor), qsizetype(GetSecurityDescriptorLength(descriptor)))};
    LocalFree(descriptor);
    return access;
}

// The list's own entries are set on the new file; entries it inherited come from the folder again,
// and a list that inherited nothing stays protected from the folder's.
bool restoreFileAccess(const QString& path, const FileAccess& access) {
    auto descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(const_cast<char*>(access.rules.constData()));
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (access.rules.isEmpty() || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !GetSecurityDescriptorControl(descriptor, &control, &revision))
        return false;
    if (!present)
        return true;
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    std::wstring name = nativePath(path);
    return SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

} // namespace plinket
