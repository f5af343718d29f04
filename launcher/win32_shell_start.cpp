#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "platform.h"
#include "shell_start.h"

namespace {

long Win32ShellOpen(const char* verb, const char* file, const char* parameters,
                    const char* directory, int showCommand) {
    HINSTANCE result = ShellExecuteA(nullptr, verb, file, parameters, directory, showCommand);
    return static_cast<long>(reinterpret_cast<intptr_t>(result));
}

}  // namespace

const ShellStart kNativeShellStart = {Win32ShellOpen};
