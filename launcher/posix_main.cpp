// Q8RLauncher on POSIX: the same guard and the same two launches as the
// window, asked for on the terminal.
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "launch_game.h"
#include "platform.h"
#include "posix_console_window.h"
#include "single_instance.h"

int main() {
    // Output nobody reads any more is dropped, not the end of the launcher.
    signal(SIGPIPE, SIG_IGN);
    if (AnotherInstanceHolds("Q8RLoader")) return -1;
    SetPlatform({kNativeFileAccess, {}, {}, kNativeShellStart, std::malloc});
    ShowLauncherMenu(stdout);
    const int control = ControlForChoice(AskLauncherChoice(stdin, stdout));
    if (const char* workingDirectory = LaunchDirectoryFor(control)) LaunchGame(workingDirectory);
    return 0;
}
