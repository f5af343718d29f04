#include <windows.h>

#include <string>

#include "win32_file_names.h"
#include "working_directory.h"

bool SpellInAnsi(const std::wstring& wide, std::string* ansi) {
    const bool utf8 = GetACP() == CP_UTF8;  // takes neither flags nor a default-used report
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL defaulted = FALSE;
    BOOL* report = utf8 ? nullptr : &defaulted;
    const int length = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, report);
    if (size <= 0 || defaulted) return false;
    std::string bytes(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, wide.data(), length, &bytes[0], size, nullptr, report) != size ||
        defaulted) {
        return false;
    }
    const int back = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (back <= 0) return false;
    std::wstring again(static_cast<size_t>(back), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, &again[0], back);
    if (again != wide) return false;
    *ansi = bytes;
    return true;
}

namespace {

// Calls `query` with a buffer as large as it asks for.
template <typename Query>
bool QueryWide(Query query, std::wstring* text) {
    const DWORD needed = query(nullptr, 0);
    if (needed == 0) return false;
    std::wstring buffer(needed, L'\0');
    const DWORD length = query(&buffer[0], needed);
    if (length == 0 || length >= needed) return false;
    buffer.resize(length);
    *text = buffer;
    return true;
}

}  // namespace

// Every path is built on this name with the ANSI file functions. Where the
// code page cannot spell the long name (a Cyrillic folder on a Western
// Windows), the folder's short 8.3 name stands in, when the volume keeps one.
bool QueryWorkingDirectory(std::string* directory) {
    std::wstring wide;
    if (!QueryWide([](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); }, &wide)) {
        return false;
    }
    if (SpellInAnsi(wide, directory)) return true;
    std::wstring shortName;
    if (!QueryWide([&](wchar_t* buffer, DWORD size) { return GetShortPathNameW(wide.c_str(), buffer, size); },
                   &shortName)) {
        return false;
    }
    return SpellInAnsi(shortName, directory);
}
