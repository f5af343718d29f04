// Holds files open the way a virus scanner or a sync client does, for a
// while.
//   file_holder PATH MILLISECONDS EVENT_NAME
//     holds PATH, sharing reading and writing but not deletion or renaming;
//     the named event is set once the file is open.
//   file_holder --watch FOLDER MILLISECONDS STOP_FILE
//     until STOP_FILE exists (ten minutes at most), opens every file that
//     appears or changes in FOLDER or below it with no sharing at all, as
//     soon as its writer lets go, and holds it MILLISECONDS, as an on-access
//     scanner does; says "watching" on its output once it watches.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Held {
    std::wstring name;
    HANDLE handle;
    DWORD until;  // 0 while the writer still has it
};

void Notice(std::vector<Held>& files, const std::wstring& name) {
    for (const Held& file : files) {
        if (file.name == name && file.until == 0) return;
    }
    files.push_back({name, INVALID_HANDLE_VALUE, 0});
}

int Watch(const wchar_t* folder, DWORD hold, const wchar_t* stop) {
    const HANDLE watched = CreateFileW(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (watched == INVALID_HANDLE_VALUE) return 1;
    OVERLAPPED pending = {};
    pending.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<DWORD> buffer(16384);
    const DWORD what = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
    const auto ask = [&] {
        ResetEvent(pending.hEvent);
        return ReadDirectoryChangesW(watched, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(DWORD)), TRUE,
                                     what, nullptr, &pending, nullptr) != 0;
    };
    if (!ask()) return 1;
    std::printf("watching\n");
    std::fflush(stdout);
    std::vector<Held> files;
    const DWORD end = GetTickCount() + 600000;
    while (GetTickCount() < end && GetFileAttributesW(stop) == INVALID_FILE_ATTRIBUTES) {
        if (WaitForSingleObject(pending.hEvent, 20) == WAIT_OBJECT_0) {
            DWORD got = 0;
            if (GetOverlappedResult(watched, &pending, &got, FALSE) && got > 0) {
                const char* at = reinterpret_cast<const char*>(buffer.data());
                for (;;) {
                    const FILE_NOTIFY_INFORMATION* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
                    if (change->Action != FILE_ACTION_REMOVED && change->Action != FILE_ACTION_RENAMED_OLD_NAME) {
                        Notice(files, std::wstring(folder) + L"\\" +
                                          std::wstring(change->FileName, change->FileNameLength / sizeof(wchar_t)));
                    }
                    if (change->NextEntryOffset == 0) break;
                    at += change->NextEntryOffset;
                }
            }
            if (!ask()) return 1;
        }
        const DWORD now = GetTickCount();
        for (size_t i = 0; i < files.size();) {
            Held& file = files[i];
            if (file.until == 0) {
                const DWORD attributes = GetFileAttributesW(file.name.c_str());
                if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    files.erase(files.begin() + static_cast<long>(i));
                    continue;
                }
                file.handle = CreateFileW(file.name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                if (file.handle != INVALID_HANDLE_VALUE) file.until = now + hold;
            } else if (now >= file.until) {
                CloseHandle(file.handle);
                files.erase(files.begin() + static_cast<long>(i));
                continue;
            }
            ++i;
        }
    }
    for (const Held& file : files) {
        if (file.until) CloseHandle(file.handle);
    }
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc == 5 && std::wstring(argv[1]) == L"--watch") {
        return Watch(argv[2], static_cast<DWORD>(_wtoi(argv[3])), argv[4]);
    }
    if (argc != 4) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (held) SetEvent(held);
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    CloseHandle(file);
    return 0;
}
