#pragma once

#include "platform.h"

const PatcherUi& ConsoleUi();
// Ends a status line left open on a terminal.
void FinishConsoleUi();
