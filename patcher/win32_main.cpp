// Q8RPatcher on Windows: one guard, one small status window, one pass of the
// event loop that runs the whole task sequence.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "game_root.h"
#include "patcher_ui.h"
#include "platform.h"
#include "single_instance.h"
#include "task_sequence.h"
#include "virtual_store.h"

namespace {

const char kClassName[] = "Q8RPatcher";
const char kWindowTitle[] = "Q8R: Patch Update Tool v1.0";
const char kIntroText[] =
    "Updating Q8R v1.0 structure to the new v1.1 structure.\n"
    "This is a one time operation and will take a few minutes.";
const char kStatusText[] = "Current Operation:";
const char kFolderNameCaption[] = "Q8R Patcher";
const char kFolderNameText[] =
    "The patcher cannot work in this folder: Windows cannot spell the folder's name in the "
    "language settings used for programs, and the folder has no short name to use instead.\n\n"
    "Nothing was changed. Rename the game folder (and the folders above it) to plain Latin "
    "letters, for example C:\\Games\\Thief2, and start the patcher again.";

HWND patcherWindow = nullptr;
HWND statusLine = nullptr;

LRESULT CALLBACK PatcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// No messages are pumped while the sequence runs, so the text is painted here.
void WindowShowStatus(const char* text) {
    SetWindowTextA(statusLine, text);
    UpdateWindow(statusLine);
}

void WindowShowMessageBox(const char* text, const char* caption, unsigned style) {
    MessageBoxA(patcherWindow, text, caption, style);
}

void WindowEndProgram(int exitCode) {
    std::exit(exitCode);
}

const PatcherUi kWindowUi = {WindowShowStatus, WindowShowMessageBox, WindowEndProgram};

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
    // The sequence runs without reading messages; left to itself, Windows
    // would draw a frozen "not responding" ghost over the window after 5 s
    // and the status line would stop moving on screen.
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
    patcherWindow = CreateWindowExA(0, kClassName, kWindowTitle, WS_CAPTION, left, top, 400, 120,
                                    nullptr, nullptr, hInstance, nullptr);
    CreateWindowExA(0, "STATIC", kIntroText, WS_CHILD | WS_VISIBLE, 5, 5, 385, 40,
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
        if (RunTaskSequence() == 1) break;
        if (message.message == WM_QUIT) break;
    }

    ReleaseGameRoot();
    UnregisterClassA(kClassName, hInstance);
    return static_cast<int>(message.wParam);
}
