#include <windows.h>

#include "interrupt_cleanup.h"
#include "win32_file_names.h"

namespace {

// The handler runs on a thread of its own while the make goes on.
CRITICAL_SECTION guard;
std::wstring pending;

// The side file is open with every sharing: the delete takes effect as the
// process ends and its handle closes. FALSE lets the default handler end it.
BOOL WINAPI RemoveAndStop(DWORD) {
    EnterCriticalSection(&guard);
    if (!pending.empty()) DeleteFileW(pending.c_str());
    LeaveCriticalSection(&guard);
    return FALSE;
}

}  // namespace

void RemoveOnInterrupt(const std::string& side) {
    static bool installed = false;
    if (!installed) {
        InitializeCriticalSection(&guard);
        SetConsoleCtrlHandler(RemoveAndStop, TRUE);
        installed = true;
    }
    std::wstring name;
    if (!LongWideName(side.c_str(), &name)) name.clear();
    EnterCriticalSection(&guard);
    pending = name;
    LeaveCriticalSection(&guard);
}

void KeepOnInterrupt() {
    RemoveOnInterrupt(std::string());
}
