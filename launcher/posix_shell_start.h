// The POSIX stand-in for the shell's "Open": a program started in a working
// directory, detached, with its arguments passed as they are. A Windows
// program goes to Wine, whose prefix maps its drive letters: the wine on the
// PATH, else the newest Proton of the player's Steam libraries.
#pragma once

#include <string>
#include <vector>

// What the layer reads from the process, gathered so it can be given too.
struct LaunchEnvironment {
    std::string searchPath;        // $PATH
    std::string winePrefix;        // $WINEPREFIX, else $HOME/.wine
    bool winePrefixGiven = false;  // $WINEPREFIX was set
    std::string home;              // $HOME, where Steam keeps its libraries
    std::string workingDirectory;  // absolute
};

LaunchEnvironment CurrentLaunchEnvironment();

// The shell's error numbers, so callers read one scheme on both platforms.
const long kStartedProgram = 33;
const long kFileNotFound = 2;
const long kPathNotFound = 3;
const long kNoAssociation = 31;
const long kCouldNotStart = 0;

struct LaunchPlan {
    long result = kCouldNotStart;  // kStartedProgram when it can be tried
    std::string reason;            // why not, for the player
    std::vector<std::string> arguments;  // arguments[0] is the program, absolute
    std::string directory;         // where the program starts
    std::vector<std::string> variables;  // NAME=value, set for the program
    std::string folderToMake;      // made (with its parents) before it starts
};

// The newest `proton` script of the Steam libraries under `home` (Steam's
// own folders, the Flatpak's, every library folder they list, and
// compatibilitytools.d), and the Steam folder it was found through.
struct ProtonFound {
    std::string proton;
    std::string steamRoot;
};
ProtonFound FindProton(const std::string& home);

// A path such as "C:\Games" or "c:/games".
bool HasDriveLetter(const char* path);
bool IsWindowsProgram(const char* file);

LaunchPlan PlanLaunch(const char* file, const char* parameters, const char* directory,
                      const LaunchEnvironment& environment);

// Starts a planned program and returns once it runs (or could not run),
// never waiting for it to end.
long StartDetached(const LaunchPlan& plan);

// Where a launch that cannot be made is told (standard error unless set).
void ShowLaunchProblemsWith(void (*show)(const std::string& text));
