#include "shell_start.h"

namespace {
const ShellStart* activeShell = nullptr;
}

const ShellStart& CurrentShellStart() {
    return activeShell ? *activeShell : PlatformShellStart();
}

void UseShellStart(const ShellStart* shell) {
    activeShell = shell;
}

long ShellOpen(const char* verb, const char* file, const char* parameters,
               const char* directory, int showCommand) {
    return CurrentShellStart().open(verb, file, parameters, directory, showCommand);
}
