#include "posix_console_window.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <iterator>

#include "resource_ids.h"
#include "window_layout.h"

namespace {

struct KeyBinding {
    char key;
    LauncherChoice choice;
};

const KeyBinding kKeys[] = {
    {'1', kChoicePlayQ8r}, {'p', kChoicePlayQ8r},   {'2', kChoicePlayThief2},
    {'t', kChoicePlayThief2}, {'q', kChoiceQuit},   {'\x1b', kChoiceQuit},
    {'\x03', kChoiceQuit},     {'\x1c', kChoiceQuit},  // Ctrl+C and Ctrl+\ while keys are raw
};

struct LineBinding {
    const char* text;
    LauncherChoice choice;
};

const LineBinding kLines[] = {
    {"play q8r", kChoicePlayQ8r},
    {"play thief2", kChoicePlayThief2},
    {"quit", kChoiceQuit},
};

std::string Trimmed(const std::string& text) {
    size_t start = 0;
    size_t end = text.size();
    while (start < end && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    while (end > start && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(start, end - start);
}

std::string Lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The terminal as it was before a key was asked for, and the signals that
// could end the program while it is raw.
termios savedTerminal;
int rawTerminal = -1;
const int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

void RestoreTerminalAndEnd(int signalNumber) {
    tcsetattr(rawTerminal, TCSANOW, &savedTerminal);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Reads one key without waiting for Enter. The terminal is put back however
// the wait ends: Ctrl+C comes as a key (ISIG is off), and a signal sent from
// elsewhere restores it before it ends the program.
int ReadKey(int fd) {
    if (tcgetattr(fd, &savedTerminal) != 0) return EOF;
    termios raw = savedTerminal;
    raw.c_lflag &= ~(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    rawTerminal = fd;
    struct sigaction restore = {};
    restore.sa_handler = RestoreTerminalAndEnd;
    struct sigaction previous[std::size(kEndingSignals)];
    for (size_t k = 0; k < std::size(kEndingSignals); ++k) {
        sigaction(kEndingSignals[k], nullptr, &previous[k]);
        // A signal the program was started to ignore stays ignored.
        if (previous[k].sa_handler != SIG_IGN) sigaction(kEndingSignals[k], &restore, nullptr);
    }
    tcsetattr(fd, TCSANOW, &raw);
    unsigned char key = 0;
    ssize_t got;
    do {
        got = read(fd, &key, 1);
    } while (got < 0 && errno == EINTR);
    tcsetattr(fd, TCSANOW, &savedTerminal);
    for (size_t k = 0; k < std::size(kEndingSignals); ++k) sigaction(kEndingSignals[k], &previous[k], nullptr);
    return got == 1 ? key : EOF;
}

bool ReadLine(FILE* in, std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(in)) != EOF) {
        if (c == '\n') return true;
        line->push_back(static_cast<char>(c));
    }
    return !line->empty();
}

}  // namespace

LauncherChoice ChoiceForKey(char key) {
    const char lowered = static_cast<char>(std::tolower(static_cast<unsigned char>(key)));
    for (const KeyBinding& binding : kKeys) {
        if (binding.key == lowered) return binding.choice;
    }
    return kChoiceNone;
}

LauncherChoice ChoiceForLine(const std::string& line) {
    const std::string text = Lowered(Trimmed(line));
    if (text.size() == 1) return ChoiceForKey(text[0]);
    for (const LineBinding& binding : kLines) {
        if (text == binding.text) return binding.choice;
    }
    return kChoiceNone;
}

int ControlForChoice(LauncherChoice choice) {
    switch (choice) {
        case kChoicePlayQ8r:
            return IDC_PLAY_Q8R;
        case kChoicePlayThief2:
            return IDC_PLAY_THIEF2;
        default:
            return 0;
    }
}

void ShowLauncherMenu(FILE* out) {
    std::fprintf(out,
                 "%s\n\n"
                 "  [1] Play Q8R\n"
                 "  [2] Play Thief2\n"
                 "  [q] Quit\n\n",
                 kLauncherTitle);
    std::fflush(out);
}

LauncherChoice AskLauncherChoice(FILE* in, FILE* out) {
    const int fd = fileno(in);
    const bool terminal = isatty(fd);
    for (;;) {
        LauncherChoice choice;
        if (terminal) {
            const int key = ReadKey(fd);
            if (key == EOF || key == 4) return kChoiceQuit;  // Ctrl+D as on a line
            choice = ChoiceForKey(static_cast<char>(key));
        } else {
            std::string line;
            if (!ReadLine(in, &line)) return kChoiceQuit;
            choice = ChoiceForLine(line);
        }
        if (choice != kChoiceNone) return choice;
        std::fprintf(out, "Press 1 to play Q8R, 2 to play Thief2 or q to quit.\n");
        std::fflush(out);
    }
}
