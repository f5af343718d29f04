// Items a move, copy or delete listed and could not finish. The walk notes
// each one where it fails; after "Task Finished." the run names them in one
// box and ends with its own exit code, so a run that left files behind never
// looks like a run that went well.
#pragma once

#include <cstddef>
#include <string>

// The exit code of a run that finished every step but left items behind.
constexpr int kExitItemsLeftBehind = 2;

// `path` is the platform's whole name of the item; `reason` a short text
// that completes "could not be moved: ...".
void NoteLeftBehind(const std::string& path, const std::string& reason);
size_t LeftBehindCount();
// The game folder as the walk spells its paths, where that is not GameRoot
// (on Windows the walk's paths are UTF-8, GameRoot is in the code page).
void SetLeftBehindRoot(const std::string& root);
void ForgetLeftBehind();

// The box that names the first few items noted and how many in all.
std::string LeftBehindMessage();

// When any item was noted: shows LeftBehindMessage in a box owned by the
// patcher window and ends the program with kExitItemsLeftBehind. Returns
// only when none was.
void ReportLeftBehind();
