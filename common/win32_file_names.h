// The Windows name layer, shared by the Windows file access (common/) and
// the Windows file operations (patcher/): a path enters it once, turned from
// the ANSI code page into a whole UTF-16 name with "\\?\" in front, and
// every file call is a wide call on that name. Here too: path splitting,
// the walk's UTF-8 names, opening for information, identity, links,
// removal, the patient change, the replace, and the calls the tests can put
// stand-ins for. No other file of either layer splits, converts, identifies,
// tests a link or removes by itself.
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

// The walk's paths are UTF-8; a name Windows holds with a lone surrogate
// keeps it, written as UTF-8 writes any other code point (WTF-8), so every
// name comes back as it was read.
std::string Narrow(const std::wstring& wide);
std::wstring Wide(const std::string& text);

// A suffix of the side-name table (side_names.h, plain ASCII) in UTF-16.
inline std::wstring WideSuffix(const char* suffix) {
    return std::wstring(suffix, suffix + std::strlen(suffix));
}

// The folder part of a whole name and its last element; a drive's root
// keeps its backslash ("C:\").
std::wstring FolderOfName(const std::wstring& name);
std::wstring LastElementOf(const std::wstring& name);
// `element` inside `folder`, which may end in a backslash.
std::wstring JoinName(const std::wstring& folder, const std::wstring& element);

// Every sharing: the game, an editor or a scanner may hold a file meanwhile.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `name` for information only (no access to the content, every
// sharing allowed, folders too); `flags` is 0 to follow a link at the last
// element or FILE_FLAG_OPEN_REPARSE_POINT to open the link itself.
HANDLE OpenForInformation(const std::wstring& name, DWORD flags);

// A file's identity: its volume's serial and its 128-bit file id.
struct FileIdentity {
    ULONGLONG volume = 0;
    unsigned char id[16] = {};
};

// False where the name cannot be opened or read. The system may give an id
// of 0 (unknown, as on some SMB shares): an unknown identity is never the
// same as another. Links at the last element are followed.
bool IdentityOf(const std::wstring& name, FileIdentity* identity);
bool SameIdentity(const FileIdentity& a, const FileIdentity& b);

enum class NameReach { kOwnName, kElsewhere, kUnknown };

// Where the system reaches the whole name `path` when it opens it with
// `flags` (FILE_FLAG_OPEN_REPARSE_POINT or 0): under the name itself (its
// folder resolved), or elsewhere, through a link at the last element; told
// by the handle's volume and file name, as Wine shows only linked folders
// as reparse points. Unknown when either cannot be opened (a dangling link).
NameReach ReachOfName(const std::wstring& path, DWORD flags);

// Whether a link at the last element of `name` leads to another file.
bool IsFileLink(const std::wstring& name);

// Whether the entry `name`, listed with `attributes` and reparse `tag`, is
// a link (a symbolic link or a junction): a reparse point whose tag is a
// name surrogate. Any other reparse point (a cloud placeholder, a
// deduplicated file) is a file or folder like any other.
bool IsListedLink(const std::wstring& name, DWORD attributes, DWORD tag);

// Whether a rename or delete of the link `name` acts on the link itself,
// not on what it names (always on Windows; Wine opens no file link as
// itself).
bool ActsOnLinkItself(const std::wstring& name);

// The whole name of the file or folder `name` leads to, links followed,
// as the system gives it ("\\?\" in front).
bool FinalNameOf(const std::wstring& name, std::wstring* final);

// The name, in the ANSI form the file calls take, of the file the link at
// `name` leads to; false where the system or the code page cannot name it.
bool LinkTarget(const std::wstring& name, std::string* target);

// Whether a delete or move of `name` would act on the file a link there
// names rather than on the link (under Wine only).
bool ActsThroughFileLink(const std::wstring& name);

// Deletes the file or empty folder `name` by its name, clearing a read-only
// attribute that refuses it; what a link there names is the caller's to
// rule out.
bool DeleteWholeName(const std::wstring& name, bool folder);

// Removes the file at the whole name `name` for good: a read-only one, one
// held open a while, and a link as itself (never the file it names), a
// dangling one Wine does not list included. A folder stays.
bool RemoveWholeName(const std::wstring& name);

// Whether the whole name `name`, which no listing shows, is taken all the
// same, as a dangling link is under Wine. Told by an exclusive create; the
// probe file, if made, goes when its handle closes, a crash included. On
// Windows a listing shows every taken name: false, and nothing is created.
bool TakenThoughUnseen(const std::wstring& name);

// ReplaceFileW's own signature.
using ReplaceFileCall = BOOL(WINAPI*)(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                                      LPVOID exclude, LPVOID reserved);

// The calls of the layer that fail in ways only Windows or another program
// brings about; the tests put stand-ins here (1176 and 1177, a sharing
// violation lasting a while, with a clock of their own in `sleep`).
struct Win32FileCalls {
    ReplaceFileCall replaceFile;
    BOOL(WINAPI* moveFileEx)(LPCWSTR from, LPCWSTR to, DWORD flags);
    BOOL(WINAPI* deleteFile)(LPCWSTR name);
    HANDLE(WINAPI* createFile)(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE model);
    void(WINAPI* sleep)(DWORD milliseconds);
    // Listings (a reparse tag, a dangling link Windows lists) and file ids
    // (0 on some shares).
    HANDLE(WINAPI* findFirst)(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID found, FINDEX_SEARCH_OPS search,
                              LPVOID filter, DWORD flags);
    BOOL(WINAPI* findNext)(HANDLE search, LPWIN32_FIND_DATAW found);
    BOOL(WINAPI* fileInformation)(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size);
};
extern Win32FileCalls gFileCalls;

// Whether `error` may be another program holding the file: worth waiting for.
bool IsHeldError(DWORD error);

// Runs `change` (nonzero on success) until it succeeds, its failure is not
// another program's hold, or the patience for that failure is spent: tens of
// seconds while the file is in use (a scan of a large new video), two while
// access is denied (a name whose delete is pending) unless `first` or
// `second`, the names the change acts on, are found in use, as a move over a
// held file answers. The last error is the change's.
bool ChangeWhenUnlocked(BOOL (*change)(void* context), void* context, const std::wstring& first,
                        const std::wstring& second);
template <typename Change>
bool ChangeWhenUnlocked(Change change, const std::wstring& first = std::wstring(),
                        const std::wstring& second = std::wstring()) {
    return ChangeWhenUnlocked([](void* context) -> BOOL { return (*static_cast<Change*>(context))(); }, &change,
                              first, second);
}

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

// Puts the file `replacement` in the place of the existing file `replaced`,
// keeping the replaced file's attributes (and, through ReplaceFileW, its
// access rules); both are whole names. The old file waits under
// `<replaced>.q8r-was` until the new one holds the name, so at every moment
// the name holds the old or the new file or the program knows where the old
// one is. True once `replaced` names the new file, checked on disk. False
// otherwise, with `replacement` kept under its own name and `replaced` as it
// was, or, where no call could put either back, with `replaced` gone and
// the old file under `<replaced>.q8r-was`, which SettleReplaced puts back.
bool ReplaceExistingFile(const std::wstring& replacement, const std::wstring& replaced);

// Where a run was cut off inside or right after a replace of `name`, the
// old file waits under `<name>.q8r-was`: it goes back where the name is
// free, and goes for good where the name holds the new file. The file
// access settles a name so before it opens, tests or replaces it.
void SettleReplaced(const std::wstring& name);
