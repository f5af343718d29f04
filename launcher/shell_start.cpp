#include "shell_start.h"

#include "platform.h"

long ShellOpen(const char* verb, const char* file, const char* parameters,
               const char* directory, int showCommand) {
    return CurrentPlatform().shell.open(verb, file, parameters, directory, showCommand);
}
