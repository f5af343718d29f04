#include "patcher_ui.h"

#include <cstdlib>

#include "game_root.h"
#include "platform.h"

const char* const kPatcherWindowTitle = "Q8R: Patch Update Tool v1.0";
const char* const kPatcherIntroText =
    "Updating Q8R v1.0 structure to the new v1.1 structure.\n"
    "This is a one time operation and will take a few minutes.";

void SetStatus(const char* text) {
    CurrentPlatform().ui.showStatus(text);
}

void StayResponsive() {
    if (CurrentPlatform().ui.stayResponsive) CurrentPlatform().ui.stayResponsive();
}

void ShowMessageBox(const char* text, const char* caption, unsigned style) {
    CurrentPlatform().ui.showMessageBox(text, caption, style);
}

void EndProgram(int exitCode) {
    SyncGameFolder();
    CurrentPlatform().ui.endProgram(exitCode);
    std::abort();  // endProgram never returns
}
