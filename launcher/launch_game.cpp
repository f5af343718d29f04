#include "launch_game.h"

#include <cstddef>

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

std::string GameExecutablePath() {
    std::string path;
    const ConfigLines config = ReadConfigLines(kConfigFileName);
    for (const std::string& line : config.lines) {
        // A line of the key alone has no value: it counts as an empty one.
        if (HoldsKey(line, kInstallPathKey)) path = KeyValue(line, kInstallPathKey) + kExecutableTail;
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
