#include "win32_launcher_window.h"

#include "launch_game.h"
#include "resource_ids.h"
#include "single_instance.h"
#include "window_layout.h"

const char kLauncherClassName[] = "Q8RLoader";

namespace {

const DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
const DWORD kButtonStyle = WS_CHILD | WS_VISIBLE;

struct ButtonLayout {
    int controlId;
    const char* caption;
    int left, top, width, height;
};

const ButtonLayout kButtons[] = {
    {IDC_PLAY_Q8R, "Play Q8R", 280, 20, 100, 25},
    {IDC_PLAY_THIEF2, "Play Thief2", 280, 60, 100, 25},
};

HINSTANCE windowInstance = nullptr;
HWND launcherWindow = nullptr;
HBITMAP background = nullptr;

// Both roads out (a launch, or the window closing) come through here, and
// the handle is forgotten so the picture is deleted only once even when
// both happen.
void ReleaseBackground() {
    if (background) DeleteObject(background);
    background = nullptr;
}

void PaintBackground(HWND window) {
    PAINTSTRUCT paint;
    HDC target = BeginPaint(window, &paint);
    // Without its picture the window shows the white class background.
    if (background) {
        HDC source = CreateCompatibleDC(target);
        HGDIOBJ replaced = SelectObject(source, background);
        BITMAP picture = {};
        GetObjectA(background, sizeof picture, &picture);
        BitBlt(target, 0, 0, picture.bmWidth, picture.bmHeight, source, 0, 0, SRCCOPY);
        SelectObject(source, replaced);
        DeleteDC(source);
    }
    EndPaint(window, &paint);
}

}  // namespace

bool RegisterLauncherClass(HINSTANCE instance) {
    windowInstance = instance;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = LauncherWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_LAUNCHER));
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_LAUNCHER_SMALL));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kLauncherClassName;
    return RegisterClassExA(&windowClass) != 0;
}

HWND CreateLauncherWindow(HINSTANCE instance, int screenWidth, int screenHeight) {
    const WindowOrigin origin = CentredWindowOrigin(screenWidth, screenHeight);
    launcherWindow = CreateWindowExA(0, kLauncherClassName, kLauncherTitle, kWindowStyle, origin.left, origin.top,
                                     kLauncherWindowWidth, kLauncherWindowHeight, nullptr, nullptr, instance,
                                     nullptr);
    if (!launcherWindow) return nullptr;
    for (const ButtonLayout& b : kButtons) {
        CreateWindowExA(0, "BUTTON", b.caption, kButtonStyle, b.left, b.top, b.width, b.height, launcherWindow,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.controlId)), instance, nullptr);
    }
    return launcherWindow;
}

LRESULT CALLBACK LauncherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            background = LoadBitmapA(windowInstance, MAKEINTRESOURCEA(IDB_BACKGROUND));
            return 0;
        case WM_PAINT:
            PaintBackground(window);
            return 0;
        case WM_COMMAND: {
            const char* workingDirectory = LaunchDirectoryFor(LOWORD(wParam));
            if (!workingDirectory) break;
            LaunchGame(workingDirectory);
            ReleaseBackground();
            PostQuitMessage(0);
            return 0;
        }
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            ReleaseBackground();
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HBITMAP LauncherBackground() {
    return background;
}

int RunLauncherMessageLoop() {
    MSG message = {};
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

int RunLauncher(HINSTANCE instance, int showCommand) {
    if (AnotherInstanceHolds(kLauncherClassName)) return -1;
    if (!RegisterLauncherClass(instance)) return 0;
    HWND window = CreateLauncherWindow(instance, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    // With no window the loop would wait for ever for a message that never comes.
    if (!window) {
        UnregisterClassA(kLauncherClassName, instance);
        return 1;
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    const int exitCode = RunLauncherMessageLoop();
    // After a launch the window still exists, so this fails; nothing follows.
    UnregisterClassA(kLauncherClassName, instance);
    return exitCode;
}
