#include <windows.h>

#include <string>

#include "win32_file_names.h"
#include "working_directory.h"

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
