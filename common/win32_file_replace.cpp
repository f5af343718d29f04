// Changing a player's file on Windows while other programs hold it or the
// file that replaces it: virus scanners scan a new file when it is closed,
// indexers, sync clients and thumbnailers open it for a while, a large new
// video for longer than a small one.
#include <vector>

#include "win32_file_names.h"
#include "win32_wine.h"

Win32FileCalls gFileCalls = {ReplaceFileW,     MoveFileExW,   DeleteFileW,
                             CreateFileW,      Sleep,         FindFirstFileExW,
                             FindNextFileW,    GetFileInformationByHandleEx};

namespace {

// The pauses double up to a second: tens of seconds in all while the file
// is in use, two while access is denied, which rarely passes.
const DWORD kInUsePatience = 60000;
const DWORD kDeniedPatience = 2000;
const DWORD kLongestPause = 1000;
// ReplaceFileW keeps the replaced file's access rules; where it keeps
// failing (under Wine on an SMB share it fails on every try), a plain move
// takes over after this many tries, ReplaceFileW's first second or so.
const int kReplaceFileTries = 7;
// The replaced file's attributes, put on the new file after a move, which
// keeps none, and after ReplaceFileW too, which under Wine keeps none either.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_READONLY;

// Whether another program holds `name` open without letting it go: an
// open for deletion alone then fails with a sharing violation.
bool InUse(const std::wstring& name) {
    if (name.empty()) return false;
    const HANDLE handle = CreateFileW(name.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

bool Exists(const std::wstring& name) {
    return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Wine 8: ReplaceFileW given no backup name moves the replaced file to an
// "rfXXXX.tmp" it makes beside it, and leaves that file (empty, or with the
// old content when it answers success) where a step fails. A backup name is
// always given here, and Wine then makes none; a leftover of the call is
// still cleared. Shown by FileAccessWithLocks under Wine
// (tests/win32_file_access_test.cpp). Goes once Wine's ReplaceFileW cleans
// up after itself.
std::vector<std::wstring> TemporaryNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    if (!RunningUnderWine()) return names;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW(JoinName(folder, L"rf*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(JoinName(folder, entry.cFileName));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

// Only an empty file that was not there before the call is the call's.
void RemoveTemporariesLeft(const std::wstring& folder, const std::vector<std::wstring>& before) {
    for (const std::wstring& name : TemporaryNames(folder)) {
        bool old = false;
        for (const std::wstring& known : before) old = old || CompareStringOrdinal(known.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!old && GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
            data.nFileSizeLow == 0) {
            gFileCalls.deleteFile(name.c_str());
        }
    }
}

struct Replace {
    const std::wstring& replacement;
    const std::wstring& replaced;
    std::wstring backup;
    FileIdentity fresh;
    bool identified;
    DWORD attributes;
    int tries = 0;
};

// Whether the replaced name holds the new file, seen on disk: the new file's
// identity is there, or the new file's own name is gone and the replaced
// name is there (Wine's ReplaceFileW has answered success with both as
// they were). A different identity proves nothing: on FAT and exFAT the
// id comes from the directory entry and changes with the name.
bool HoldsNewFile(const Replace& replace) {
    if (!Exists(replace.replaced)) return false;
    FileIdentity now;
    if (replace.identified && IdentityOf(replace.replaced, &now) && SameIdentity(now, replace.fresh)) return true;
    return !Exists(replace.replacement);
}

// One try. ReplaceFileW first; once it has failed long enough, or after
// it failed half-way and left the name free, a move written through.
BOOL TryReplace(Replace& replace) {
    const std::wstring folder = FolderOfName(replace.replaced);
    BOOL done;
    DWORD error;
    if (Exists(replace.replaced) && replace.tries++ < kReplaceFileTries) {
        const std::vector<std::wstring> before = TemporaryNames(folder);
        done = gFileCalls.replaceFile(replace.replaced.c_str(), replace.replacement.c_str(), replace.backup.c_str(),
                                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
        error = GetLastError();
        RemoveTemporariesLeft(folder, before);
    } else {
        done = gFileCalls.moveFileEx(replace.replacement.c_str(), replace.replaced.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        error = GetLastError();
    }
    // A failure after the new file took the name is the system's to tidy.
    if (HoldsNewFile(replace)) return TRUE;
    // An answer of success that the disk belies is tried again while the
    // new file still waits under its own name.
    if (done) error = Exists(replace.replacement) ? ERROR_SHARING_VIOLATION : ERROR_FILE_NOT_FOUND;
    // 1176 and 1177 without the replaced name taken are the system's half
    // way: the next try moves the new file onto the free name.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        error = ERROR_SHARING_VIOLATION;
    }
    SetLastError(error);
    return FALSE;
}

}  // namespace

bool IsHeldError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

bool ChangeWhenUnlocked(BOOL (*change)(void* context), void* context, const std::wstring& first,
                        const std::wstring& second) {
    DWORD pause = 10;
    for (DWORD waited = 0;; waited += pause, pause = pause * 2 < kLongestPause ? pause * 2 : kLongestPause) {
        if (change(context)) return true;
        const DWORD error = GetLastError();
        const bool inUse = error != ERROR_ACCESS_DENIED || InUse(first) || InUse(second);
        const DWORD patience = inUse ? kInUsePatience : kDeniedPatience;
        if (!IsHeldError(error) || waited >= patience) return false;
        gFileCalls.sleep(pause);
        SetLastError(error);
    }
}

namespace {

// The replaced file is never a folder or a link (a link is moved over, not
// replaced): a folder or a link under the backup's name is the player's.
bool IsOurBackup(const std::wstring& backup) {
    const DWORD attributes = GetFileAttributesW(backup.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) && !ActsThroughFileLink(backup);
}

}  // namespace

void SettleReplaced(const std::wstring& name) {
    const std::wstring backup = name + WideSuffix(kReplacedSuffix);
    if (!IsOurBackup(backup)) return;
    if (Exists(name)) {
        RemoveWholeName(backup);
        return;
    }
    ChangeWhenUnlocked([&] { return gFileCalls.moveFileEx(backup.c_str(), name.c_str(), MOVEFILE_WRITE_THROUGH); },
                       backup);
}

bool ReplaceExistingFile(const std::wstring& replacement, const std::wstring& replaced) {
    Replace replace{replacement, replaced, replaced + WideSuffix(kReplacedSuffix), {}, false,
                    GetFileAttributesW(replaced.c_str())};
    if (!Exists(replacement)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    replace.identified = IdentityOf(replacement, &replace.fresh);
    SettleReplaced(replaced);
    const bool replacedIt = ChangeWhenUnlocked([&] { return TryReplace(replace); }, replacement, replaced);
    const DWORD error = GetLastError();
    if (replacedIt) {
        if (replace.attributes != INVALID_FILE_ATTRIBUTES) {
            const DWORD kept = replace.attributes & kKeptAttributes;
            SetFileAttributesW(replaced.c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL);
        }
        SettleReplaced(replaced);
        return true;
    }
    // The new file could not take the name the old one left: the old one
    // goes back.
    SettleReplaced(replaced);
    SetLastError(error);
    return false;
}
