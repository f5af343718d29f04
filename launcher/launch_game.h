// What the launcher's two buttons do: start the game found through
// Darkinst.cfg, with the mod folder or the parent folder to work in.
#pragma once

#include <string>

#include "resource_ids.h"

extern const char kModWorkingDirectory[];     // ".//q8r"
extern const char kParentWorkingDirectory[];  // ".."

// The game executable named by the last install_path line of Darkinst.cfg
// in the current working directory; empty when there is none.
std::string GameExecutablePath();

// One shell request for GameExecutablePath() in `workingDirectory`. Nothing
// is reported: the launcher ends whatever came of it.
void LaunchGame(const char* workingDirectory);

// The working directory a control's command launches with; null for a
// control that launches nothing.
const char* LaunchDirectoryFor(int controlId);
