// The launcher's window: its class, the window with its two buttons, the
// window procedure and the message loop. WinMain only strings them together.
#pragma once

#include <windows.h>

extern const char kLauncherClassName[];  // "Q8RLoader", also the guard's name

bool RegisterLauncherClass(HINSTANCE instance);
// The main window and its buttons at the place the screen size gives.
HWND CreateLauncherWindow(HINSTANCE instance, int screenWidth, int screenHeight);
LRESULT CALLBACK LauncherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The loaded picture; null before the window exists and once released.
HBITMAP LauncherBackground();
// Until the quit request (or an error); the wParam of the last message.
int RunLauncherMessageLoop();

// The whole program: -1 beside another launcher, 0 without a class, 1
// without a window, else the loop's result.
int RunLauncher(HINSTANCE instance, int showCommand);
