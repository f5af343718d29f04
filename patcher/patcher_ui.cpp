#include "patcher_ui.h"

#include <cstdlib>

#include "game_root.h"
#include "platform.h"

void SetStatus(const char* text) {
    CurrentPlatform().ui.showStatus(text);
}

void ShowMessageBox(const char* text, const char* caption, unsigned style) {
    CurrentPlatform().ui.showMessageBox(text, caption, style);
}

void EndProgram(int exitCode) {
    SyncGameFolder();
    CurrentPlatform().ui.endProgram(exitCode);
    std::abort();  // endProgram never returns
}
