// The patcher's window on POSIX is the terminal: the window's intro lines,
// then the status texts on standard output (rewritten in place on a terminal, one line each elsewhere), message
// boxes on standard error. A box waits for Enter only when someone can press
// it, so scripts and CI never hang.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "patcher_ui.h"
#include "posix_console_ui.h"

namespace {

bool statusOnTerminal = false;
bool statusLineOpen = false;

void EndStatusLine() {
    if (statusLineOpen) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
        statusLineOpen = false;
    }
}

void ConsoleShowStatus(const char* text) {
    if (statusOnTerminal) {
        // \033[K clears what a longer earlier text left on the line.
        std::fprintf(stdout, "\r%s\033[K", text);
        statusLineOpen = true;
    } else {
        std::fprintf(stdout, "%s\n", text);
    }
    std::fflush(stdout);
}

void ConsoleShowMessageBox(const char* text, const char* caption, unsigned) {
    EndStatusLine();
    std::fprintf(stderr, "[%s]\n%s\n", caption, text);
    if (isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "Press Enter to continue.");
        std::fflush(stderr);
        for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
        }
    }
    std::fflush(stderr);
}

void ConsoleEndProgram(int exitCode) {
    EndStatusLine();
    std::exit(exitCode);
}

const PatcherUi kConsoleUi = {ConsoleShowStatus, ConsoleShowMessageBox, ConsoleEndProgram, nullptr};

}  // namespace

const PatcherUi& StartConsoleUi() {
    statusOnTerminal = isatty(STDOUT_FILENO);
    std::fprintf(stdout, "%s\n\n", kPatcherIntroText);
    std::fflush(stdout);
    return kConsoleUi;
}

void FinishConsoleUi() {
    EndStatusLine();
}
