#include "launch_game.h"

#include <cstddef>
#include <new>

#include "install_config.h"
#include "shell_start.h"

const char kModWorkingDirectory[] = ".//q8r";
const char kParentWorkingDirectory[] = "..";

namespace {

const char kConfigFileName[] = "Darkinst.cfg";
const char kExecutableTail[] = "\\thief2.exe";

struct LaunchBinding {
    int controlId;
    const char* workingDirectory;
};

const LaunchBinding kLaunchBindings[] = {
    {IDC_PLAY_Q8R, kModWorkingDirectory},
    {IDC_PLAY_THIEF2, kParentWorkingDirectory},
};

}  // namespace

// The lines of a read that broke off count, as far as they go. A value ends
// at its first zero byte, as the shell's zero-terminated request would end
// it, so what is started is always a thief2.exe: "evil.sh", a zero byte and
// more would otherwise lose the tail and start evil.sh.
std::string GameExecutablePath() {
    std::string path;
    try {
        const ConfigLines config = ReadConfigLines(kConfigFileName);
        ForEachConfigLine(config, [&](std::string_view view, bool) {
            const std::string line(view);
            // A line of the key alone has no value: it counts as an empty one.
            if (!HoldsKey(line, kInstallPathKey)) return;
            const std::string value = KeyValue(line, kInstallPathKey);
            path = value.substr(0, value.find('\0')) + kExecutableTail;
        });
    } catch (const std::bad_alloc&) {
        return std::string();
    }
    return path;
}

void LaunchGame(const char* workingDirectory) {
    const std::string file = GameExecutablePath();
    ShellOpen("Open", file.c_str(), nullptr, workingDirectory, kShowNormal);
}

const char* LaunchDirectoryFor(int controlId) {
    for (const LaunchBinding& binding : kLaunchBindings) {
        if (binding.controlId == controlId) return binding.workingDirectory;
    }
    return nullptr;
}
