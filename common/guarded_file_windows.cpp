#include "guarded_file.h"

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <atomic>
#include <memory>

namespace plinket {

namespace {

std::atomic<bool> g_ownFilesAreAdministrators{false};

QString systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QString::number(code);
    LocalFree(text);
    return message;
}

// The user this process runs as; empty when it cannot be told.
std::unique_ptr<BYTE[]> currentUser() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    auto buffer = std::make_unique<BYTE[]>(size ? size : 1);
    const bool ok = size && GetTokenInformation(token, TokenUser, buffer.get(), size, &size);
    CloseHandle(token);
    return ok ? std::move(buffer) : nullptr;
}

PSID sidOf(const std::unique_ptr<BYTE[]>& tokenUser) {
    return tokenUser ? reinterpret_cast<TOKEN_USER*>(tokenUser.get())->User.Sid : nullptr;
}

bool isAdministrators(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// What is wrong with the owner and access list of an open file or folder under `guard`; empty when nothing.
QString ownershipProblem(HANDLE handle, FileGuard guard) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return u"its permissions cannot be read"_qs;
    const auto me = currentUser();
    const PSID self = sidOf(me);
    QString problem;
    const bool ownedBySelf = self && EqualSid(owner, self);
    if (guard == FileGuard::Private && !ownedBySelf)
        problem = u"not owned by the user running this program"_qs;
    if (guard == FileGuard::Administrator && !isAdministrators(owner) && !(g_ownFilesAreAdministrators && ownedBySelf))
        problem = u"not owned by the Administrators"_qs;
    // Rights that let someone else read (a secret) or change (any trusted file) it.
    const ACCESS_MASK watched = guard == FileGuard::Private
                                    ? ACCESS_MASK(FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_READ |
                                                  GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER)
                                    : ACCESS_MASK(FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_ADD_FILE | GENERIC_WRITE |
                                                  GENERIC_ALL | WRITE_DAC | WRITE_OWNER | DELETE);
    if (problem.isEmpty() && !dacl)
        problem = u"everyone may change it (no access list)"_qs;
    for (DWORD i = 0; problem.isEmpty() && dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        const PSID sid = &ace->SidStart;
        if ((ace->Mask & watched) && !EqualSid(sid, owner) && !isAdministrators(sid))
            problem =
                guard == FileGuard::Private ? u"other users may read or change it"_qs : u"other users may change it"_qs;
    }
    LocalFree(descriptor);
    return problem;
}

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

} // namespace

GuardedRead readGuardedFile(const QString& path, FileGuard guard, qint64 limit) {
    GuardedRead result;
    const Handle file{CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return result;
        result.status = GuardedRead::Status::Refused;
        result.problem = u"cannot be read ("_qs + systemMessage(code) + u')';
        return result;
    }
    result.status = GuardedRead::Status::Refused;
    // A pipe or a device (CON, COM1, \\.\...) is never read: it could block for ever.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.h) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        result.problem = u"not a regular file"_qs;
        return result;
    }
    result.problem = ownershipProblem(file.h, guard);
    if (!result.problem.isEmpty())
        return result;
    const qint64 size = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > limit) {
        result.problem = QStringLiteral("larger than %1 bytes").arg(limit);
        return result;
    }
    QByteArray bytes(size, Qt::Uninitialized);
    DWORD read = 0;
    if (size > 0 && (!ReadFile(file.h, bytes.data(), DWORD(size), &read, nullptr) || read != DWORD(size))) {
        result.problem = u"cannot be read ("_qs + systemMessage(GetLastError()) + u')';
        return result;
    }
    result.status = GuardedRead::Status::Read;
    result.bytes = std::move(bytes);
    result.problem.clear();
    return result;
}

QString guardedFolderProblem(const QString& path, bool* exists) {
    if (exists)
        *exists = false;
    const Handle folder{CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), READ_CONTROL,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (folder.h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return {};
        if (exists)
            *exists = true;
        return u"cannot be read ("_qs + systemMessage(code) + u')';
    }
    if (exists)
        *exists = true;
    return ownershipProblem(folder.h, FileGuard::Administrator);
}

bool createGuardedFile(const QString& path, const QByteArray& bytes, bool readableByAll, QString* error) {
    // A protected list (no rights inherited from the folder): the user and the system, and for a public
    // file everyone's right to read.
    const auto me = currentUser();
    wchar_t* user = nullptr;
    if (!sidOf(me) || !ConvertSidToStringSidW(sidOf(me), &user)) {
        *error = systemMessage(GetLastError());
        return false;
    }
    const QString sddl = QStringLiteral("D:P(A;;FA;;;%1)(A;;FA;;;SY)%2")
                             .arg(QString::fromWCharArray(user), readableByAll ? u"(A;;FR;;;WD)"_qs : QString());
    LocalFree(user);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(reinterpret_cast<LPCWSTR>(sddl.utf16()), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        *error = systemMessage(GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    // CREATE_NEW never replaces a file; FILE_FLAG_OPEN_REPARSE_POINT never follows a link.
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

void acceptOwnFilesAsAdministrators(bool accept) {
    g_ownFilesAreAdministrators = accept;
}

} // namespace plinket
