// The launcher's window on a desktop: its two choices in a dialog window,
// and what keeps a launch from happening in a box.
#pragma once

#include "posix_console_window.h"
#include "posix_desktop_dialog.h"

LauncherChoice AskDesktopChoice(const DesktopDialogs& dialogs);
// From now on, a launch that cannot be made is told in a box.
void ShowLaunchProblemsInBoxes(const DesktopDialogs& dialogs);
