// Q8RPatcher on POSIX: the same guard and task sequence as on Windows, with
// the terminal in place of the window, or, started without one on a desktop,
// the desktop's dialog windows.
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "game_root.h"
#include "posix_console_ui.h"
#include "posix_desktop_ui.h"
#include "platform.h"
#include "single_instance.h"
#include "task_sequence.h"

namespace {

// Run as root in a folder another user owns, the run could be steered by
// that user's links and names to any file of the machine (git refuses such
// folders for the same reason); that user can run it. As the player, links
// are followed as on Windows.
// Set in the environment of the patcher a terminal emulator was asked to run.
const char kInTerminalMarker[] = "Q8R_PATCHER_IN_TERMINAL";

bool RootMayRunHere() {
    struct stat folder;
    if (geteuid() != 0 || stat(GameRoot, &folder) != 0 || folder.st_uid == 0) return true;
    const struct passwd* owner = getpwuid(folder.st_uid);
    const std::string name = owner ? owner->pw_name : "#" + std::to_string(folder.st_uid);
    std::fprintf(stderr,
                 "Q8RPatcher: the game folder belongs to the user %s, not to root. Run as root, the patcher\n"
                 "could be led by that user's links to any file on this machine, so it does not run.\n"
                 "Run it as %s instead, for instance: sudo -u '%s' ./Q8RPatcher\n",
                 name.c_str(), name.c_str(), name.c_str());
    return false;
}

void WaitForEnter() {
    std::fprintf(stdout, "Press Enter to close this window.");
    std::fflush(stdout);
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
}

}  // namespace

int main() {
    // A reader of the status lines that goes away must not end the run: the
    // lines it would have had are dropped.
    signal(SIGPIPE, SIG_IGN);
    // Started from a file manager or Steam, the terminal's texts would go
    // nowhere, and a failure would look like success.
    DesktopDialogs dialogs;
    if (StartedWithoutTerminal()) {
        dialogs = FindDesktopDialogs();
        if (dialogs.kind == kNoDialogs) RerunInTerminalEmulator(kInTerminalMarker);
    }
    if (AnotherInstanceHolds("Q8RPatcher")) return -1;
    if (!TakeGameRoot()) {
        std::fprintf(stderr, "Q8RPatcher: the current folder cannot be read.\n");
        return 1;
    }
    // Every path the patcher builds is the root, a backslash and a tail, and
    // a backslash is a separator here: a root whose own name holds one would
    // make those paths name another folder.
    if (std::strchr(GameRoot, '\\')) {
        std::fprintf(stderr, "Q8RPatcher: the current folder's path holds a backslash, so the game's paths cannot name it.\n");
        ReleaseGameRoot();
        return 1;
    }
    if (!RootMayRunHere()) {
        ReleaseGameRoot();
        return 1;
    }
    const bool onDesktop = dialogs.kind != kNoDialogs;
    SetPlatform({kNativeFileAccess, kNativeFileOperations, onDesktop ? StartDesktopUi(dialogs) : StartConsoleUi(), {},
                 std::malloc});
    RunTaskSequence();
    if (onDesktop) {
        FinishDesktopUi();
    } else {
        FinishConsoleUi();
    }
    // A terminal emulator closes with the program: the texts stay until read.
    if (std::getenv(kInTerminalMarker)) WaitForEnter();
    ReleaseGameRoot();
    return 0;
}
