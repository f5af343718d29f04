// Q8RLauncher on Windows: one guard, one fixed window with the background
// picture and two buttons, and an ordinary message loop.
#include <windows.h>

#include <cstdlib>

#include "platform.h"

#include "win32_launcher_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    SetPlatform({kNativeFileAccess, {}, {}, kNativeShellStart, std::malloc});
    return RunLauncher(instance, showCommand);
}
