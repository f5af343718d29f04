#pragma once

#include "platform.h"
#include "posix_desktop_dialog.h"

// The patcher's window on a desktop, through `dialogs`.
const PatcherUi& StartDesktopUi(const DesktopDialogs& dialogs);
// Leaves the last text on screen for a while, then closes the window.
void FinishDesktopUi();
