// Q8RPatcher on POSIX: the same guard and task sequence as on Windows, with
// the terminal in place of the window.
#include <cstdio>

#include "game_root.h"
#include "posix_console_ui.h"
#include "single_instance.h"
#include "task_sequence.h"

int main() {
    if (AnotherInstanceHolds("Q8RPatcher")) return -1;
    if (!TakeGameRoot()) {
        std::fprintf(stderr, "Q8RPatcher: the current folder cannot be read.\n");
        return 1;
    }
    UsePatcherUi(&ConsoleUi());
    RunTaskSequence();
    FinishConsoleUi();
    ReleaseGameRoot();
    return 0;
}
