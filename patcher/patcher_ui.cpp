#include "patcher_ui.h"

#include <cstdlib>

namespace {
const PatcherUi* activeUi = nullptr;
}

void UsePatcherUi(const PatcherUi* ui) {
    activeUi = ui;
}

void SetStatus(const char* text) {
    if (activeUi) activeUi->showStatus(text);
}

void ShowMessageBox(const char* text, const char* caption, unsigned style) {
    if (activeUi) activeUi->showMessageBox(text, caption, style);
}

void EndProgram(int exitCode) {
    if (activeUi) activeUi->endProgram(exitCode);
    std::exit(exitCode);
}
