// Q8RPatcher on Windows: one guard, one small status window, one pass of the
// event loop that runs the whole task sequence. While it runs, each status
// text lets the window handle what the system sent it.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "game_root.h"
#include "patcher_ui.h"
#include "platform.h"
#include "single_instance.h"
#include "task_sequence.h"
#include "virtual_store.h"
#include "win32_file_names.h"

namespace {

const char kClassName[] = "Q8RPatcher";
const char kStatusText[] = "Current Operation:";
const char kFolderNameCaption[] = "Q8R Patcher";
const char kFolderNameText[] =
    "The patcher cannot work in this folder: Windows cannot spell the folder's name in the "
    "language settings used for programs, and the folder has no short name to use instead.\n\n"
    "Nothing was changed. Rename the game folder (and the folders above it) to plain Latin "
    "letters, for example C:\\Games\\Thief2, and start the patcher again.";

// How long "Task Finished." stays on screen before the window goes.
const DWORD kFinishedShownMs = 2000;

HWND patcherWindow = nullptr;
HWND statusLine = nullptr;
// From the window's first showing until the sequence has returned.
bool sequenceRunning = true;

LRESULT CALLBACK PatcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            // The window has no close box, but a window manager (under Wine)
            // adds one: closed in the middle, the migration would stop half done.
            if (sequenceRunning) return 0;
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Keys and clicks, on the window and on its frame: the run takes no input,
// and a drag of the title bar would hold the run in the system's move loop.
bool IsPlayerInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

// Paint, the window manager's pings (Wine answers them while the queue is
// read) and whatever else the system sent; nothing here calls the sequence,
// so no step runs twice. A quit request can only come from outside while the
// window cannot be closed, and is dropped.
void HandleWaitingMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT || IsPlayerInput(message.message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void WindowShowStatus(const char* text) {
    SetWindowTextA(statusLine, text);
    UpdateWindow(statusLine);
    HandleWaitingMessages();
}

// Between a step's items: the queue is read at most every 50 ms, which
// costs nothing beside a file operation.
void WindowStayResponsive() {
    static DWORD lastRead = 0;
    const DWORD now = GetTickCount();
    if (now - lastRead < 50) return;
    lastRead = now;
    HandleWaitingMessages();
}

// The window stays with its last text, answering the system, then goes.
void ShowFinishedForAWhile() {
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < kFinishedShownMs; waited = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kFinishedShownMs - waited, QS_ALLINPUT);
        HandleWaitingMessages();
    }
}

// A path the code page cannot spell is shown as it is named.
void WindowShowMessageBox(const char* text, const char* caption, unsigned style) {
    MessageBoxW(patcherWindow, Wide(text).c_str(), Wide(caption).c_str(), style);
}

void WindowEndProgram(int exitCode) {
    std::exit(exitCode);
}

const PatcherUi kWindowUi = {WindowShowStatus, WindowShowMessageBox, WindowEndProgram, WindowStayResponsive};

bool RunsElevated() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const BOOL got = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return got && elevation.TokenIsElevated;
}

std::string Environment(const char* name) {
    char value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? value : "";
}

// The game's VirtualStore twin, when the elevated patcher would migrate
// the stale originals beside it; the game root compared by its long name.
bool StaleUnderVirtualStore(std::string* twin) {
    char root[MAX_PATH];
    const DWORD length = GetLongPathNameA(GameRoot, root, sizeof root);
    if (!RunsElevated() || length == 0 || length >= sizeof root) return false;
    *twin = VirtualStoreTwin(root, Environment("LOCALAPPDATA"),
                             {Environment("ProgramFiles"), Environment("ProgramFiles(x86)"), Environment("ProgramW6432")});
    return !twin->empty() && TwinHoldsMigratedItems(*twin, kNativeFileAccess.exists);
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int showCommand) {
    // One call of the shell's file operation (a folder of thousands of
    // voices) may read no messages for longer than 5 s; left to itself, Windows would then draw a frozen
    // "not responding" ghost over the window and its status line.
    DisableProcessWindowsGhosting();
    if (AnotherInstanceHolds(kClassName)) return -1;

    // Without a name for its folder the patcher could only build wrong paths
    // and leave the game half-migrated: it changes nothing and says why.
    if (!TakeGameRoot()) {
        MessageBoxA(nullptr, kFolderNameText, kFolderNameCaption, MB_OK | MB_ICONERROR);
        return 1;
    }

    // Elevated, it would migrate the originals the game no longer reads.
    std::string twin;
    if (StaleUnderVirtualStore(&twin)) {
        MessageBoxA(nullptr, VirtualStoreMessage(twin).c_str(), kVirtualStoreCaption, MB_OK | MB_ICONERROR);
        ReleaseGameRoot();
        return 1;
    }

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = PatcherWindowProc;
    windowClass.hInstance = hInstance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_SCROLLBAR + 1);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExA(&windowClass)) {
        ReleaseGameRoot();
        return 0;
    }

    const int left = GetSystemMetrics(SM_CXSCREEN) / 2 - 200;
    const int top = GetSystemMetrics(SM_CYSCREEN) / 2 - 60;
    patcherWindow = CreateWindowExA(0, kClassName, kPatcherWindowTitle, WS_CAPTION, left, top, 400, 120,
                                    nullptr, nullptr, hInstance, nullptr);
    CreateWindowExA(0, "STATIC", kPatcherIntroText, WS_CHILD | WS_VISIBLE, 5, 5, 385, 40,
                                 patcherWindow, nullptr, hInstance, nullptr);
    statusLine = CreateWindowExA(0, "STATIC", kStatusText, WS_CHILD | WS_VISIBLE, 10, 60, 360, 20,
                                 patcherWindow, nullptr, hInstance, nullptr);
    ShowWindow(patcherWindow, showCommand);
    UpdateWindow(patcherWindow);
    SetPlatform({kNativeFileAccess, kNativeFileOperations, kWindowUi, {}, std::malloc});

    MSG message = {};
    for (;;) {
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        const int finished = RunTaskSequence();
        sequenceRunning = false;
        if (finished == 1) {
            ShowFinishedForAWhile();
            break;
        }
        if (message.message == WM_QUIT) break;
    }

    ReleaseGameRoot();
    UnregisterClassA(kClassName, hInstance);
    return static_cast<int>(message.wParam);
}
