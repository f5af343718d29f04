// Q8RLauncher on Windows: one guard, one fixed window with the background
// picture and two buttons, and an ordinary message loop.
#include <windows.h>

#include "launch_game.h"
#include "resource_ids.h"
#include "single_instance.h"

namespace {

const char kClassName[] = "Q8RLoader";  // also the guard's name
const char kWindowTitle[] = "Q8R: Gloamspire  v1.1";
const DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
const DWORD kButtonStyle = WS_CHILD | WS_VISIBLE;
const int kWindowWidth = 394;
const int kWindowHeight = 380;

struct ButtonLayout {
    int controlId;
    const char* caption;
    int left, top, width, height;
};

const ButtonLayout kButtons[] = {
    {IDC_PLAY_Q8R, "Play Q8R", 280, 20, 100, 25},
    {IDC_PLAY_THIEF2, "Play Thief2", 280, 60, 100, 25},
};

HINSTANCE instance = nullptr;
HWND launcherWindow = nullptr;
HWND buttons[2] = {};
HBITMAP background = nullptr;

// Both roads out (a launch, or the window closing) come through here, and
// the handle is forgotten so the picture is deleted only once.
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

LRESULT CALLBACK LauncherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            background = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_BACKGROUND));
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

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int showCommand) {
    if (AnotherInstanceHolds(kClassName)) return -1;
    instance = hInstance;

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = LauncherWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_LAUNCHER));
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_LAUNCHER_SMALL));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExA(&windowClass)) return 0;

    // Centred by halving with a shift and not kept on screen, as before.
    const int left = (GetSystemMetrics(SM_CXSCREEN) >> 1) - kWindowWidth / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) >> 1) - kWindowHeight / 2;
    launcherWindow = CreateWindowExA(0, kClassName, kWindowTitle, kWindowStyle, left, top, kWindowWidth,
                                     kWindowHeight, nullptr, nullptr, instance, nullptr);
    // With no window the loop would wait for ever for a message that never comes.
    if (!launcherWindow) {
        UnregisterClassA(kClassName, instance);
        return 1;
    }
    for (int i = 0; i < 2; ++i) {
        const ButtonLayout& b = kButtons[i];
        buttons[i] = CreateWindowExA(0, "BUTTON", b.caption, kButtonStyle, b.left, b.top, b.width, b.height,
                                     launcherWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.controlId)),
                                     instance, nullptr);
    }
    ShowWindow(launcherWindow, showCommand);
    UpdateWindow(launcherWindow);

    MSG message = {};
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    UnregisterClassA(kClassName, instance);
    return static_cast<int>(message.wParam);
}
