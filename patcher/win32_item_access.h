// One item at a time on Windows, for the walk (file_walk.h): UTF-16 calls on
// "\\?\" names, so every item is seen under its real name, however long,
// where the ANSI shell sees '?' or nothing. Names, links and identity are
// the name layer's (win32_file_names.h); what is here is the walk's own:
// the listing of each folder once per request, and the changes.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "file_walk.h"
#include "win32_file_names.h"

// The shell's call, unless a test put another in its place; the file calls
// a test can stand in for are the name layer's (gFileCalls).
struct Win32ShellCalls {
    int(WINAPI* shellOperation)(LPSHFILEOPSTRUCTA request);
};
extern Win32ShellCalls gShellCalls;

extern const ItemAccess kWin32Items;

// Each request sees a folder as it listed it once, kept true to the
// request's own changes (the items of kWin32Items); anything else that may
// have changed the disk (the shell) makes it forget.
void ForgetSeen();

WalkItem InspectItem(const std::string& path);
bool IdentifyItem(const std::string& path, ItemIdentity* identity);

// Whether the copy of a file to `path`, which no listing shows, would
// create the file a link there names.
bool TakenUnseen(const std::string& path);

// Clears what an earlier run's copy onto a link left under its side name.
void ClearCopySide(const std::string& target);
