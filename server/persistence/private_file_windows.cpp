#include "private_file.h"

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

namespace plinket {

namespace {

QString systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QString::number(code);
    LocalFree(text);
    return message;
}

// "S-1-5-21-..." of the user this process runs as.
QString currentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    QString result;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray buffer(static_cast<qsizetype>(size), '\0');
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        wchar_t* sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
            result = QString::fromWCharArray(sid);
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return result;
}

} // namespace

bool createPrivateFile(const QString& path, const QByteArray& bytes, QString* error) {
    // A protected list (no rights inherited from the folder) that lets in the user and the system only.
    const QString user = currentUserSid();
    const QString sddl = QStringLiteral("D:P(A;;FA;;;%1)(A;;FA;;;SY)").arg(user);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (user.isEmpty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                              reinterpret_cast<LPCWSTR>(sddl.utf16()), SDDL_REVISION_1, &descriptor, nullptr)) {
        *error = systemMessage(GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) {
        *error = systemMessage(GetLastError());
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == static_cast<DWORD>(bytes.size()) && FlushFileBuffers(file);
    if (!ok)
        *error = systemMessage(GetLastError());
    CloseHandle(file);
    if (!ok)
        DeleteFileW(reinterpret_cast<LPCWSTR>(path.utf16()));
    return ok;
}

std::optional<bool> othersMayRead(const QString& path) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(reinterpret_cast<LPCWSTR>(path.utf16()), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return std::nullopt;
    bool others = dacl == nullptr; // no list at all: everyone may do anything
    const ACCESS_MASK readRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
    for (DWORD i = 0; !others && dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        const PSID sid = &ace->SidStart;
        if ((ace->Mask & readRights) && !EqualSid(sid, owner) && !IsWellKnownSid(sid, WinLocalSystemSid) &&
            !IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
            others = true;
    }
    LocalFree(descriptor);
    return others;
}

} // namespace plinket
