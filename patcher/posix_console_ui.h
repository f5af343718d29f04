#pragma once

#include "patcher_ui.h"

const PatcherUi& ConsoleUi();
// Ends a status line left open on a terminal.
void FinishConsoleUi();
