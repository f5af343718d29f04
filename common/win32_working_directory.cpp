#include <windows.h>

#include <vector>

#include "working_directory.h"

bool QueryWorkingDirectory(std::string* directory) {
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return false;
    std::vector<char> buffer(needed);
    const DWORD length = GetCurrentDirectoryA(needed, buffer.data());
    if (length == 0 || length >= needed) return false;
    directory->assign(buffer.data(), length);
    return true;
}
