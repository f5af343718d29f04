// Q8RLauncher on POSIX: the same guard and the same two launches as the
// window, asked for on the terminal or, started without one on a desktop,
// in the desktop's dialog window.
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "launch_game.h"
#include "platform.h"
#include "posix_console_window.h"
#include "posix_desktop_window.h"
#include "single_instance.h"

int main() {
    // Output nobody reads any more is dropped, not the end of the launcher.
    signal(SIGPIPE, SIG_IGN);
    // Added to Steam or started from a file manager, a menu on the terminal
    // would go nowhere and the end of its input would start nothing.
    DesktopDialogs dialogs;
    if (StartedWithoutTerminal()) {
        dialogs = FindDesktopDialogs();
        if (dialogs.kind == kNoDialogs) RerunInTerminalEmulator("Q8R_LAUNCHER_IN_TERMINAL");
    }
    if (AnotherInstanceHolds("Q8RLoader")) return -1;
    SetPlatform({kNativeFileAccess, {}, {}, kNativeShellStart, std::malloc});
    LauncherChoice choice;
    if (dialogs.kind != kNoDialogs) {
        ShowLaunchProblemsInBoxes(dialogs);
        choice = AskDesktopChoice(dialogs);
    } else {
        ShowLauncherMenu(stdout);
        choice = AskLauncherChoice(stdin, stdout);
    }
    const int control = ControlForChoice(choice);
    if (const char* workingDirectory = LaunchDirectoryFor(control)) LaunchGame(workingDirectory);
    return 0;
}
