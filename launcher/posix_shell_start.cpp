#include "posix_shell_start.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "posix_desktop_dialog.h"
#include "posix_path.h"
#include "platform.h"
#include "printable_text.h"
#include "shell_start.h"
#include "working_directory.h"

namespace {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsPresentFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool EndsWithIgnoringCase(const std::string& text, const char* tail) {
    const size_t length = std::strlen(tail);
    return text.size() >= length && SameNameIgnoringCase(text.c_str() + text.size() - length, tail);
}

// Where Steam keeps itself below the home folder: the usual links, its
// own folder, the Flatpak's.
const char* const kSteamRoots[] = {
    "/.steam/steam",
    "/.steam/root",
    "/.local/share/Steam",
    "/.var/app/com.valvesoftware.Steam/.local/share/Steam",
};
// The compat-data folder Proton gets when WINEPREFIX names none of its own.
const char kOwnCompatData[] = "/.local/share/q8r/proton";
const char kDeckAdvice[] =
    "On a Steam Deck, add Q8RLauncher.exe to Steam as a non-Steam game and force a Proton version in its "
    "Properties, Compatibility";

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* listing = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        }
        closedir(listing);
    }
    return names;
}

// The "path" values of Steam's libraryfolders.vdf: every library the
// player added, on any disk.
std::vector<std::string> LibraryFolders(const std::string& steamRoot) {
    std::vector<std::string> folders = {steamRoot};
    std::ifstream listing(steamRoot + "/steamapps/libraryfolders.vdf");
    std::string line;
    while (std::getline(listing, line)) {
        const size_t key = line.find("\"path\"");
        if (key == std::string::npos) continue;
        const size_t open = line.find('"', key + 6);
        const size_t close = open == std::string::npos ? open : line.find('"', open + 1);
        if (close != std::string::npos) folders.push_back(line.substr(open + 1, close - open - 1));
    }
    return folders;
}

std::string Absolute(const std::string& path, const LaunchEnvironment& environment) {
    if (!path.empty() && path[0] == '/') return path;
    return environment.workingDirectory + "/" + path;
}

// A Windows path in the terms of this system: a drive path through the
// Wine prefix's drive links, anything else as a path of our own.
// A prefix Proton has yet to make maps only Wine's Z:, the whole system.
bool MapPath(const char* path, const std::string& prefix, const LaunchEnvironment& environment,
             std::string* mapped, std::string* reason) {
    if (!HasDriveLetter(path)) {
        const bool absolute = path[0] == '/' || path[0] == '\\';
        *mapped = ResolvePath(absolute ? path : (environment.workingDirectory + "/" + path).c_str());
        return true;
    }
    const std::string drives = prefix + "/dosdevices";
    if (!IsFolder(drives) && (path[0] == 'z' || path[0] == 'Z')) {
        *mapped = ResolvePath(path + 2);
        return true;
    }
    const std::string drive = ResolvePath((drives + "/" + std::string(path, 2)).c_str());
    if (!IsFolder(drive)) {
        *reason = std::string("the Wine prefix ") + prefix + " has no drive " + std::string(path, 2) +
                  " (set WINEPREFIX to the prefix the game is installed in)";
        return false;
    }
    *mapped = ResolvePath((drives + "/" + path).c_str());
    return true;
}

// What runs a Windows program here, and the prefix that maps its drives.
struct WindowsRunner {
    std::vector<std::string> command;
    std::vector<std::string> variables;
    std::string prefix;
    std::string folderToMake;
};

// The wine on the PATH, else Proton as Steam runs it: `proton run` with a
// compat-data folder (the one WINEPREFIX names when it is a Proton prefix,
// .../pfx, else one of our own) and Steam's folder.
bool FindWindowsRunner(const LaunchEnvironment& environment, WindowsRunner* runner) {
    const std::string wine = FindOnSearchPath(environment.searchPath, "wine");
    if (!wine.empty()) {
        runner->command = {Absolute(wine, environment)};
        runner->prefix = environment.winePrefix;
        return true;
    }
    const ProtonFound found = environment.home.empty() ? ProtonFound{} : FindProton(environment.home);
    if (found.proton.empty()) return false;
    const std::string& given = environment.winePrefix;
    const bool protonPrefix = environment.winePrefixGiven && given.size() > 4 &&
                              given.compare(given.size() - 4, 4, "/pfx") == 0;
    const std::string compatData = protonPrefix ? given.substr(0, given.size() - 4) : environment.home + kOwnCompatData;
    runner->command = {found.proton, "run"};
    runner->variables = {"STEAM_COMPAT_DATA_PATH=" + compatData, "STEAM_COMPAT_CLIENT_INSTALL_PATH=" + found.steamRoot};
    runner->prefix = compatData + "/pfx";
    runner->folderToMake = compatData;
    return true;
}

bool IsRunnableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// mkdir -p, in the child about to start the program.
void MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); !folder.empty(); slash = folder.find('/', slash + 1)) {
        mkdir(folder.substr(0, slash).c_str(), 0755);
        if (slash == std::string::npos) break;
    }
}

LaunchPlan Refuse(long result, std::string reason) {
    LaunchPlan plan;
    plan.result = result;
    plan.reason = std::move(reason);
    return plan;
}

}  // namespace

LaunchEnvironment CurrentLaunchEnvironment() {
    LaunchEnvironment environment;
    const char* searchPath = std::getenv("PATH");
    environment.searchPath = searchPath ? searchPath : DefaultSearchPath();
    environment.winePrefix = EnvironmentValue("WINEPREFIX");
    environment.winePrefixGiven = !environment.winePrefix.empty();
    environment.home = EnvironmentValue("HOME");
    if (environment.winePrefix.empty()) environment.winePrefix = environment.home + "/.wine";
    if (!QueryWorkingDirectory(&environment.workingDirectory)) environment.workingDirectory.assign(1, '.');  // not = ".": gcc 12 warns falsely there
    return environment;
}

bool HasDriveLetter(const char* path) {
    const char letter = path[0];
    const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    return isLetter && path[1] == ':';
}

bool IsWindowsProgram(const char* file) {
    return HasDriveLetter(file) || EndsWithIgnoringCase(file, ".exe");
}

LaunchPlan PlanLaunch(const char* file, const char* parameters, const char* directory,
                      const LaunchEnvironment& environment) {
    if (file == nullptr || file[0] == '\0') {
        return Refuse(kFileNotFound, "no install_path line in a Darkinst.cfg of this folder");
    }
    // The working directories are relative to this folder and a backslash is
    // a separator in them: a folder whose own name holds one would make them
    // name another folder.
    if (environment.workingDirectory.find('\\') != std::string::npos) {
        return Refuse(kPathNotFound, "the current folder's path holds a backslash, so the game's paths cannot name it");
    }

    WindowsRunner runner;
    const bool windowsProgram = IsWindowsProgram(file);
    if (windowsProgram && !FindWindowsRunner(environment, &runner)) {
        return Refuse(kNoAssociation, std::string(file) +
                                          " is a Windows program, and neither wine on the PATH nor Proton in a "
                                          "Steam library was found. " + kDeckAdvice);
    }
    const std::string& prefix = windowsProgram ? runner.prefix : environment.winePrefix;

    std::string reason;
    std::string program;
    if (!MapPath(file, prefix, environment, &program, &reason)) return Refuse(kPathNotFound, reason);
    if (!IsPresentFile(program)) {
        return Refuse(kFileNotFound, std::string(file) + " is not there (looked for " + program + ")");
    }

    LaunchPlan plan;
    const char* folder = (directory && directory[0]) ? directory : ".";
    if (!MapPath(folder, prefix, environment, &plan.directory, &reason)) return Refuse(kPathNotFound, reason);
    if (!IsFolder(plan.directory)) {
        return Refuse(kPathNotFound, std::string("the folder ") + folder + " is not there (looked for " +
                                         plan.directory + ")");
    }

    if (windowsProgram) {
        plan.arguments = runner.command;
        plan.variables = runner.variables;
        plan.folderToMake = runner.folderToMake;
    } else if (access(program.c_str(), X_OK) != 0) {
        return Refuse(kNoAssociation, program + " is not a program that can be run");
    }
    plan.arguments.push_back(program);
    if (parameters && parameters[0]) plan.arguments.push_back(parameters);
    plan.result = kStartedProgram;
    return plan;
}

ProtonFound FindProton(const std::string& home) {
    ProtonFound best;
    std::string bestName;
    for (const char* root : kSteamRoots) {
        const std::string steamRoot = home + root;
        if (!IsFolder(steamRoot)) continue;
        std::vector<std::string> toolFolders = {steamRoot + "/compatibilitytools.d"};
        for (const std::string& library : LibraryFolders(steamRoot)) toolFolders.push_back(library + "/steamapps/common");
        for (const std::string& tools : toolFolders) {
            for (const std::string& name : FolderEntries(tools)) {
                const std::string proton = tools + "/" + name + "/proton";
                if (name.find("Proton") == std::string::npos || !IsRunnableFile(proton)) continue;
                // "Proton 10.0" is newer than "Proton 9.0".
                if (best.proton.empty() || strverscmp(name.c_str(), bestName.c_str()) > 0) {
                    best = {proton, steamRoot};
                    bestName = name;
                }
            }
        }
    }
    return best;
}

long StartDetached(const LaunchPlan& plan) {
    std::vector<char*> argv;
    for (const std::string& argument : plan.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // The pipe closes by itself when exec succeeds and carries errno when not.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return kCouldNotStart;

    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return kCouldNotStart;
    }
    if (child == 0) {
        // A grandchild, so the program belongs to init, not to us: nobody
        // has to wait for it and it outlives the launcher.
        close(report[0]);
        setsid();
        const pid_t program = fork();
        if (program != 0) _exit(program < 0 ? 1 : 0);
        // The launcher ignores broken pipes; the game gets the usual handling.
        signal(SIGPIPE, SIG_DFL);
        for (const std::string& variable : plan.variables) putenv(const_cast<char*>(variable.c_str()));
        MakeFolders(plan.folderToMake);
        // What failed, and why: the folder (0) or the program (1).
        int failure[2] = {0, 0};
        if (chdir(plan.directory.c_str()) != 0) {
            failure[1] = errno;
        } else {
            execv(argv[0], argv.data());
            failure[0] = 1;
            failure[1] = errno;
        }
        ssize_t ignored = write(report[1], failure, sizeof failure);
        (void)ignored;
        _exit(127);
    }

    close(report[1]);
    int status = 0;
    waitpid(child, &status, 0);
    int failure[2] = {0, 0};
    ssize_t got;
    do {
        got = read(report[0], failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return kCouldNotStart;
    if (got != static_cast<ssize_t>(sizeof failure)) return kStartedProgram;
    if (failure[0] == 0) return kPathNotFound;
    return failure[1] == ENOENT ? kFileNotFound : kCouldNotStart;
}

namespace {

void PrintLaunchProblem(const std::string& text) {
    std::fprintf(stderr, "Q8RLauncher: %s\n", text.c_str());
}

void (*showLaunchProblem)(const std::string& text) = PrintLaunchProblem;

// "Open" is the only verb, and a terminal has no window to show.
long PosixShellOpen(const char* /*verb*/, const char* file, const char* parameters, const char* directory,
                    int /*showCommand*/) {
    const LaunchPlan plan = PlanLaunch(file, parameters, directory, CurrentLaunchEnvironment());
    if (plan.result != kStartedProgram) {
        showLaunchProblem("cannot start the game: " + PrintableText(plan.reason) + ".");
        return plan.result;
    }
    std::string command;
    for (const std::string& argument : plan.arguments) command += (command.empty() ? "" : " ") + argument;
    std::fprintf(stdout, "Starting %s in %s\n", PrintableText(command).c_str(),
                 PrintableText(plan.directory).c_str());
    std::fflush(stdout);
    const long result = StartDetached(plan);
    if (result != kStartedProgram) {
        showLaunchProblem(PrintableText(plan.arguments[0]) + " could not be started.");
    }
    return result;
}

}  // namespace

void ShowLaunchProblemsWith(void (*show)(const std::string& text)) {
    showLaunchProblem = show;
}

const ShellStart kNativeShellStart = {PosixShellOpen};
