#include "regular_file.h"

#include <QDir>

#include <windows.h>

namespace plinket {

FileReadStatus readRegularFile(const QString& path, QByteArray* bytes) {
    const QString native = QDir::toNativeSeparators(path);
    // Others may read and write meanwhile, as when another program has the file open.
    const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? FileReadStatus::Missing
                                                                                : FileReadStatus::Unreadable;
    }
    struct Closer {
        HANDLE handle;
        ~Closer() { ::CloseHandle(handle); }
    } closer{file};

    // Pipes, consoles and devices (CON, NUL, COM1, \\.\pipe\...) are not files to read.
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) ||
        size.QuadPart > MAX_CONSOLE_FILE_BYTES)
        return FileReadStatus::Unreadable;
    if (!bytes)
        return FileReadStatus::Read;

    QByteArray data;
    data.reserve(qsizetype(size.QuadPart));
    char chunk[65536];
    while (true) {
        DWORD n = 0;
        if (!::ReadFile(file, chunk, sizeof chunk, &n, nullptr) || data.size() + qint64(n) > MAX_CONSOLE_FILE_BYTES)
            return FileReadStatus::Unreadable;
        if (n == 0)
            break;
        data.append(chunk, qsizetype(n));
    }
    *bytes = std::move(data);
    return FileReadStatus::Read;
}

} // namespace plinket
