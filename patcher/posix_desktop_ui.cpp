// The patcher's window on a Linux desktop: zenity's progress window carries
// the title, the intro lines and the status text (a moving bar, since the
// percentages are in the text); boxes are the dialog program's boxes, which
// wait until dismissed. kdialog's progress window is driven over D-Bus,
// which a glibc-only program has no client for: there the boxes alone.
#include "posix_desktop_ui.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "patcher_ui.h"

namespace {

const unsigned kFinishedShownSeconds = 2;

DesktopDialogs desktop;
int statusInput = -1;
int statusProcess = -1;

// zenity reads one text per line, with C escapes.
std::string StatusLine(const std::string& text) {
    std::string line = "#";
    for (char c : text) {
        if (c == '\\') line += "\\\\";
        else if (c == '\n') line += "\\n";
        else line += c;
    }
    return line + "\n";
}

void WriteStatus(const std::string& text) {
    if (statusInput < 0) return;
    const std::string line = StatusLine(text);
    // A window the player closed takes nothing any more: dropped (SIGPIPE
    // is ignored).
    if (write(statusInput, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        close(statusInput);
        statusInput = -1;
    }
}

void DesktopShowStatus(const char* text) {
    WriteStatus(std::string(kPatcherIntroText) + "\n\n" + text);
}

void DesktopShowMessageBox(const char* text, const char* caption, unsigned style) {
    ShowDesktopBox(desktop, caption, text, style == kMessageBoxError);
}

void DesktopEndProgram(int exitCode) {
    EndDialogReading(statusInput, statusProcess);
    std::exit(exitCode);
}

const PatcherUi kDesktopUi = {DesktopShowStatus, DesktopShowMessageBox, DesktopEndProgram, nullptr};

}  // namespace

const PatcherUi& StartDesktopUi(const DesktopDialogs& dialogs) {
    desktop = dialogs;
    if (dialogs.kind == kZenityDialogs) {
        statusInput = StartDialogReading(dialogs,
                                         {"--progress", "--pulsate", "--no-cancel", "--auto-close", "--width", "420", "--title",
                                          kPatcherWindowTitle, "--text", " "},
                                         &statusProcess);
        DesktopShowStatus("Current Operation:");
    }
    return kDesktopUi;
}

void FinishDesktopUi() {
    if (statusInput >= 0) sleep(kFinishedShownSeconds);
    EndDialogReading(statusInput, statusProcess);
    statusInput = -1;
}
