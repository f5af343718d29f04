// Q8RPatcher on POSIX: the same guard and task sequence as on Windows, with
// the terminal in place of the window.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "game_root.h"
#include "posix_console_ui.h"
#include "platform.h"
#include "single_instance.h"
#include "task_sequence.h"

int main() {
    // A reader of the status lines that goes away must not end the run: the
    // lines it would have had are dropped.
    signal(SIGPIPE, SIG_IGN);
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
    SetPlatform({kNativeFileAccess, kNativeFileOperations, ConsoleUi(), {}, std::malloc});
    RunTaskSequence();
    FinishConsoleUi();
    ReleaseGameRoot();
    return 0;
}
