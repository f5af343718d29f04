// One item at a time on Windows, for the walk (file_walk.h): UTF-16 calls on
// "\\?\" names, so every item is seen under its real name, however long,
// where the ANSI shell sees '?' or nothing. Also the system calls whose
// answers only Windows gives (a reparse tag, a 128-bit file id, the shell's
// abort flag), gathered so that a test can answer as Windows would.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "file_walk.h"

struct Win32SystemCalls {
    int(WINAPI* shellOperation)(LPSHFILEOPSTRUCTA request);
    HANDLE(WINAPI* findFirst)(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID found, FINDEX_SEARCH_OPS search,
                              LPVOID filter, DWORD flags);
    BOOL(WINAPI* findNext)(HANDLE search, LPWIN32_FIND_DATAW found);
    BOOL(WINAPI* fileInformation)(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size);
    // The unseen-name probe, an exclusive create (win32_file_names.h).
    bool (*takenThoughUnseen)(const std::wstring& name);
};

// The system's own calls, unless a test put others in their place.
extern Win32SystemCalls win32Calls;

extern const ItemAccess kWin32Items;

// The walk's paths are UTF-8; a name Windows holds with a lone surrogate
// keeps it, written as UTF-8 writes any other code point (WTF-8), so every
// name comes back as it was read.
std::string Narrow(const std::wstring& wide);
std::wstring Wide(const std::string& text);

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
