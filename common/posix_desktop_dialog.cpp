#include "posix_desktop_dialog.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// The terminal emulators a desktop may have, each with the option before the
// program it is to run; Debian's alternative first.
struct TerminalEmulator {
    const char* program;
    const char* runOption;
};
const TerminalEmulator kTerminalEmulators[] = {
    {"x-terminal-emulator", "-e"}, {"gnome-terminal", "--"}, {"konsole", "-e"},
    {"xfce4-terminal", "-x"},      {"xterm", "-e"},
};

std::string SearchPath() {
    const char* path = std::getenv("PATH");
    return path ? path : DefaultSearchPath();
}

bool IsRunnableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::vector<char*> ArgumentVector(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// A child running the dialog program with `input` and `output` as its
// standard input and output (-1: /dev/null); its process id, or -1.
pid_t StartDialog(const DesktopDialogs& dialogs, const std::vector<std::string>& arguments, int input, int output) {
    std::vector<char*> argv = ArgumentVector(dialogs.program, arguments);
    const pid_t child = fork();
    if (child != 0) return child;
    const int nothing = open("/dev/null", O_RDWR);
    dup2(input >= 0 ? input : nothing, STDIN_FILENO);
    dup2(output >= 0 ? output : nothing, STDOUT_FILENO);
    signal(SIGPIPE, SIG_DFL);
    execv(argv[0], argv.data());
    _exit(127);
}

int WaitFor(pid_t process) {
    int status = 0;
    while (waitpid(process, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string DefaultSearchPath() {
    const size_t size = confstr(_CS_PATH, nullptr, 0);
    if (size == 0) return "/bin:/usr/bin";
    std::string path(size, '\0');
    confstr(_CS_PATH, path.data(), size);
    path.resize(size - 1);
    return path;
}

std::string FindOnSearchPath(const std::string& searchPath, const char* program) {
    size_t start = 0;
    while (start <= searchPath.size()) {
        size_t end = searchPath.find(':', start);
        if (end == std::string::npos) end = searchPath.size();
        const std::string folder = searchPath.substr(start, end - start);
        start = end + 1;
        if (folder.empty() || folder[0] != '/') continue;
        const std::string candidate = folder + "/" + program;
        if (IsRunnableFile(candidate)) return candidate;
    }
    return "";
}

bool StartedWithoutTerminal() {
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    return display && !isatty(STDIN_FILENO) && !isatty(STDOUT_FILENO) && !isatty(STDERR_FILENO);
}

DesktopDialogs FindDesktopDialogs() {
    DesktopDialogs dialogs;
    const std::string searchPath = SearchPath();
    if (!(dialogs.program = FindOnSearchPath(searchPath, "zenity")).empty()) {
        dialogs.kind = kZenityDialogs;
    } else if (!(dialogs.program = FindOnSearchPath(searchPath, "kdialog")).empty()) {
        dialogs.kind = kKdialogDialogs;
    }
    return dialogs;
}

bool RunDialog(const DesktopDialogs& dialogs, const std::vector<std::string>& arguments, std::string* printed) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
    const pid_t child = StartDialog(dialogs, arguments, -1, pipeEnds[1]);
    close(pipeEnds[1]);
    if (child < 0) {
        close(pipeEnds[0]);
        return false;
    }
    printed->clear();
    char buffer[512];
    for (;;) {
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        printed->append(buffer, static_cast<size_t>(got));
    }
    close(pipeEnds[0]);
    return WaitFor(child) == 0;
}

int StartDialogReading(const DesktopDialogs& dialogs, const std::vector<std::string>& arguments, int* process) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
    const pid_t child = StartDialog(dialogs, arguments, pipeEnds[0], -1);
    close(pipeEnds[0]);
    if (child < 0) {
        close(pipeEnds[1]);
        return -1;
    }
    *process = child;
    return pipeEnds[1];
}

// The end of its input closes the window (--auto-close); one that does not
// go by itself is ended.
void EndDialogReading(int input, int process) {
    if (input < 0) return;
    close(input);
    for (int tries = 0; tries < 40; ++tries) {
        if (waitpid(process, nullptr, WNOHANG) == process) return;
        usleep(50000);
    }
    kill(process, SIGTERM);
    WaitFor(process);
}

void ShowDesktopBox(const DesktopDialogs& dialogs, const char* title, const char* text, bool error) {
    std::string ignored;
    if (dialogs.kind == kZenityDialogs) {
        // Texts hold file names, which are no markup.
        RunDialog(dialogs, {error ? "--error" : "--info", "--no-markup", "--title", title, "--text", text}, &ignored);
    } else if (dialogs.kind == kKdialogDialogs) {
        RunDialog(dialogs, {"--title", title, error ? "--error" : "--msgbox", text}, &ignored);
    }
}

void RerunInTerminalEmulator(const char* marker) {
    if (std::getenv(marker)) return;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return;
    self[length] = '\0';
    const std::string searchPath = SearchPath();
    for (const TerminalEmulator& emulator : kTerminalEmulators) {
        const std::string program = FindOnSearchPath(searchPath, emulator.program);
        if (program.empty()) continue;
        setenv(marker, "1", 1);
        const std::vector<std::string> arguments = {emulator.runOption, self};
        std::vector<char*> argv = ArgumentVector(program, arguments);
        execv(argv[0], argv.data());
        unsetenv(marker);
    }
}
