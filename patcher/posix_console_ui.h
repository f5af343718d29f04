#pragma once

#include "platform.h"

// Shows the intro lines and gives the terminal's PatcherUi.
const PatcherUi& StartConsoleUi();
// Ends a status line left open on a terminal.
void FinishConsoleUi();
