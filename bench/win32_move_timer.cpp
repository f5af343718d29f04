// The timed part of bench/win32_move_bench.sh, under Wine: every entry of
// FROM moved into TO by
//   loop     one listing and one MoveFileExW per entry, and nothing else;
//   walk     the Windows item-by-item road (the walk on the Windows items);
//   request  the whole move request (the shell, then what it left);
// prints the seconds taken, measured inside the process so Wine's start is
// no part of them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "file_operations.h"
#include "platform.h"
#include "win32_item_access.h"

namespace {

bool Loop(const std::wstring& from, const std::wstring& to) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    bool moved = true;
    for (const std::wstring& name : names) {
        moved = MoveFileExW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), 0) && moved;
    }
    return moved;
}

bool Walk(const std::string& from, const std::string& to) {
    std::vector<WalkItem> items;
    return ListSource(kWin32Items, from + "\\*", &items) && MoveListed(kWin32Items, items, to);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: win32_move_timer loop|walk|request FROM TO\n");
        return 2;
    }
    SetPlatform({kNativeFileAccess, kNativeFileOperations, {}, {}, std::malloc});
    const std::string mode = argv[1], from = argv[2], to = argv[3];
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool moved = false;
    if (mode == "loop") {
        moved = Loop(Wide(from), Wide(to));
    } else if (mode == "walk") {
        moved = Walk(from, to);
    } else {
        moved = MoveFiles((from + "\\*").c_str(), (to + "\\").c_str()) == 0;
    }
    QueryPerformanceCounter(&end);
    std::printf("%.4f\n", static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
    return moved ? 0 : 1;
}
