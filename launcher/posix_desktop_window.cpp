#include "posix_desktop_window.h"

#include "posix_shell_start.h"
#include "window_layout.h"

namespace {

const char kChoiceText[] = "Choose what to play.";
const char kPlayQ8r[] = "Play Q8R";
const char kPlayThief2[] = "Play Thief2";

DesktopDialogs boxes;

void ShowLaunchProblemBox(const std::string& text) {
    ShowDesktopBox(boxes, kLauncherTitle, ("Q8RLauncher " + text).c_str(), true);
}

}  // namespace

LauncherChoice AskDesktopChoice(const DesktopDialogs& dialogs) {
    std::string chosen;
    bool answered = false;
    if (dialogs.kind == kZenityDialogs) {
        answered = RunDialog(dialogs,
                             {"--list", "--title", kLauncherTitle, "--text", kChoiceText, "--column", "Play",
                              "--hide-header", "--height", "220", kPlayQ8r, kPlayThief2},
                             &chosen);
    } else if (dialogs.kind == kKdialogDialogs) {
        answered = RunDialog(dialogs, {"--title", kLauncherTitle, "--menu", kChoiceText, kPlayQ8r, kPlayQ8r,
                                       kPlayThief2, kPlayThief2},
                             &chosen);
    }
    while (!chosen.empty() && (chosen.back() == '\n' || chosen.back() == '\r')) chosen.pop_back();
    if (!answered) return kChoiceQuit;
    if (chosen == kPlayQ8r) return kChoicePlayQ8r;
    if (chosen == kPlayThief2) return kChoicePlayThief2;
    return kChoiceQuit;
}

void ShowLaunchProblemsInBoxes(const DesktopDialogs& dialogs) {
    boxes = dialogs;
    ShowLaunchProblemsWith(ShowLaunchProblemBox);
}
