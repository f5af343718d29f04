#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "shell_start.h"

namespace {

long Win32ShellOpen(const char* verb, const char* file, const char* parameters,
                    const char* directory, int showCommand) {
    HINSTANCE result = ShellExecuteA(nullptr, verb, file, parameters, directory, showCommand);
    return static_cast<long>(reinterpret_cast<intptr_t>(result));
}

const ShellStart kWin32Shell = {Win32ShellOpen};

}  // namespace

const ShellStart& PlatformShellStart() {
    return kWin32Shell;
}
