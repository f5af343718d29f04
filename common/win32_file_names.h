// Whole UTF-16 names, where a name leads, and changes the read-only
// attribute would refuse, shared by the Windows file access and the Windows
// file operations.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

#include "side_names.h"

// The whole name of the ANSI `path` in UTF-16, as the system completes it
// from the working directory.
bool WholeWideName(const char* path, std::wstring* whole);

// The same with "\\?\" in front, which no length limit applies to and which
// every wide call below takes as it is.
bool LongWideName(const char* path, std::wstring* whole);

// The exact spelling of `wide` in the ANSI code page, one that reads back as
// the same characters; false where the code page has no such spelling (it
// would put '?' or a look-alike letter in place, naming another file).
bool SpellInAnsi(const std::wstring& wide, std::string* ansi);

// A suffix of the side-name table (side_names.h, plain ASCII) in UTF-16.
inline std::wstring WideSuffix(const char* suffix) {
    return std::wstring(suffix, suffix + std::strlen(suffix));
}

enum class NameReach { kOwnName, kElsewhere, kUnknown };

// Where the system reaches the whole name `path` when it opens it with
// `flags` (FILE_FLAG_OPEN_REPARSE_POINT or 0): under the name itself (its
// folder resolved), or elsewhere, through a link at the last element; told
// by the handle's volume and file name, as Wine shows only linked folders
// as reparse points. Unknown when either cannot be opened (a dangling link).
NameReach ReachOfName(const std::wstring& path, DWORD flags);

// Removes the file at the whole name `name` for good: a read-only one, one
// held open a moment, and a link as itself (never the file it names), a
// dangling one Wine does not list included. A folder stays.
bool RemoveWholeName(const std::wstring& name);

// Whether the whole name `name`, which no listing shows, is taken all the
// same, as a dangling link is under Wine. Told by an exclusive create; the
// probe file, if made, goes when its handle closes, a crash included.
bool TakenThoughUnseen(const std::wstring& name);

// Runs `change` (a call on `item` that answers nonzero on success). When it
// is refused with access denied and `item` carries the read-only attribute,
// the attribute is cleared and the change tried once more, as the shell's
// delete without confirmation does; a second refusal puts the attribute
// back. The last error is the change's.
template <typename Change>
bool ChangeClearingReadOnly(const std::wstring& item, Change change) {
    if (change()) return true;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(item.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY) ||
        !SetFileAttributesW(item.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        SetLastError(error);
        return false;
    }
    if (change()) return true;
    const DWORD again = GetLastError();
    SetFileAttributesW(item.c_str(), attributes);
    SetLastError(again);
    return false;
}

// ReplaceFileW's own signature, so that a test can put a failing one in
// its place.
using ReplaceFileCall = BOOL(WINAPI*)(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                                      LPVOID exclude, LPVOID reserved);

// Puts the file `replacement` in the place of the existing file `replaced`
// through `replace`, keeping the replaced file's attributes and access
// rules; both are whole names. True once `replaced` names the new file.
// False otherwise, with `replacement` kept under its own name, and
// `replaced` as it was unless the system failed half-way and the name is
// gone.
bool ReplaceExistingFile(const std::wstring& replacement, const std::wstring& replaced, ReplaceFileCall replace);
