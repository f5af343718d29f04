// Each primitive is one silent shell file operation on a one-path list,
// unless a look at the disk first finds something the shell may get wrong:
// a link or junction among the items or at their targets, or an item
// meeting one of the other kind (Wine's shell puts a folder in a file's
// place, and deletes what a linked folder names). Such a request is done
// item by item alone. Otherwise what the shell leaves undone is finished
// item by item, judged by what is on the disk afterwards, not by the shell's
// answer alone: some shells (Wine's) refuse a wildcard of several files, or
// answer 0 and leave a folder unmoved where a same-named one waits at the
// target. On Windows the shell does it all and the item-by-item work finds
// nothing left to do.
//
// The item-by-item work speaks UTF-16 through "\\?\" names, so it sees
// every item under its real name, however long, where the ANSI shell sees
// '?' or nothing.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "file_walk.h"
#include "path_format.h"
#include "platform.h"
#include "win32_file_names.h"

namespace {

// The name a copy onto a link is made under first.
const wchar_t kCopySide[] = L".q8r-copy";

const FILEOP_FLAGS kSilentFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;  // 0x0214

// The shell's one-path list: the path, its zero, and a closing zero.
void ToPathList(const char* path, char (&list)[kPathBufferSize]) {
    std::memset(list, 0, sizeof list);
    std::memcpy(list, path, std::strlen(path));
}

int ShellOperation(UINT function, const char* from, const char* to) {
    char source[kPathBufferSize];
    char target[kPathBufferSize];
    ToPathList(from, source);
    SHFILEOPSTRUCTA request;
    std::memset(&request, 0, sizeof request);
    request.hwnd = nullptr;
    request.wFunc = function;
    request.pFrom = source;
    if (to) {
        ToPathList(to, target);
        request.pTo = target;
    }
    request.fFlags = kSilentFlags;
    return SHFileOperationA(&request);
}

// The walk's paths are UTF-8; a name Windows holds with a lone surrogate
// keeps it, written as UTF-8 writes any other code point (WTF-8), so every
// name comes back as it was read.
std::string Narrow(const std::wstring& wide) {
    std::string text;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t point = wide[i];
        if (point >= 0xD800 && point < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
            point = 0x10000 + ((point - 0xD800) << 10) + (wide[++i] - 0xDC00);
        }
        if (point < 0x80) {
            text += static_cast<char>(point);
        } else if (point < 0x800) {
            text += static_cast<char>(0xC0 | (point >> 6));
            text += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            text += static_cast<char>(0xE0 | (point >> 12));
            text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (point >> 18));
            text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return text;
}

std::wstring Wide(const std::string& text) {
    std::wstring wide;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t point = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        for (size_t k = 1; k < length && i + k < text.size(); ++k) {
            point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        if (point < 0x10000) {
            wide += static_cast<wchar_t>(point);
        } else {
            wide += static_cast<wchar_t>(0xD800 + ((point - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        }
    }
    return wide;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    size_t end = folder.size();
    while (end > 0 && folder[end - 1] == L'\\') --end;
    return folder.substr(0, end) + L"\\" + name;
}

std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.rfind(L'\\'));
}

// Symbolic links and junctions. Wine shows only a link to a folder as a
// reparse point; a name the system resolves to another is a link too. A
// reparse point that is a file of its own (a cloud placeholder, a
// deduplicated file) is an item like any other.
bool IsLink(const std::wstring& path, DWORD attributes, DWORD tag) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return tag == 0 || IsReparseTagNameSurrogate(tag);
    return ReachOfName(path, 0) == NameReach::kElsewhere;
}

// Whether a move or delete of the link `item` acts on the link itself.
// Where the system cannot open a link as itself (Wine moves and deletes
// what it names), the link is left alone.
bool ActsOnLinkItself(const WalkItem& item) {
    return ReachOfName(Wide(item.path), FILE_FLAG_OPEN_REPARSE_POINT) == NameReach::kOwnName;
}

// A link to a folder counts as a folder: what goes to it is merged into
// what it names.
WalkItem FoundItem(const std::wstring& path, const WIN32_FIND_DATAW& found) {
    WalkItem item;
    item.path = Narrow(path);
    item.exists = true;
    item.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const DWORD tag = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? found.dwReserved0 : 0;
    item.link = IsLink(path, found.dwFileAttributes, tag);
    return item;
}

bool ListWide(const std::wstring& pattern, std::vector<WalkItem>* items) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    const std::wstring folder = FolderOf(pattern);
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") items->push_back(FoundItem(Join(folder, name), found));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool List(const std::string& folder, const std::string& pattern, std::vector<WalkItem>* items) {
    return ListWide(Join(Wide(folder), Wide(pattern)), items);
}

WalkItem Inspect(const std::string& path) {
    const std::wstring wide = Wide(path);
    std::vector<WalkItem> found;
    if (wide.find_first_of(L"*?", wide.rfind(L'\\')) == std::wstring::npos && ListWide(wide, &found) &&
        found.size() == 1) {
        found[0].path = path;
        return found[0];
    }
    WalkItem missing;
    missing.path = path;
    return missing;
}

bool Identify(const std::string& path, ItemIdentity* identity) {
    const HANDLE handle = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL got = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!got) return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// The file system finds names without regard to letter case itself.
std::string TargetFor(void*, const std::string& folder, const std::string& name) {
    return Narrow(Join(Wide(folder), Wide(name)));
}

// A link is not carried to another volume as what it names.
Renamed Rename(const WalkItem& item, const WalkItem& target) {
    if (item.link && !ActsOnLinkItself(item)) return Renamed::kFailed;
    const std::wstring source = Wide(item.path), name = Wide(target.path);
    const DWORD flags = (target.exists ? MOVEFILE_REPLACE_EXISTING : 0) | (item.link ? 0 : MOVEFILE_COPY_ALLOWED);
    if (ChangeClearingReadOnly(name, [&] { return MoveFileExW(source.c_str(), name.c_str(), flags) != 0; })) {
        return Renamed::kDone;
    }
    return GetLastError() == ERROR_NOT_SAME_DEVICE ? Renamed::kOtherVolume : Renamed::kFailed;
}

// Renames `from` over `to`, which replaces the entry at `to`, a link
// included, never what a link there names.
bool RenameOver(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// A side file an earlier run left is replaced as the link is: a second copy
// is renamed over it, since a link there cannot be deleted safely and Wine
// does not even list a dangling one. A folder there is the player's and
// stops the copy.
bool CopyOverStaleSide(const std::wstring& source, const std::wstring& side) {
    const WalkItem stale = Inspect(Narrow(side));
    const std::wstring fresh = side + L".new";
    if (stale.folder || !CopyFileW(source.c_str(), fresh.c_str(), TRUE)) return false;
    if (stale.link ? RenameOver(fresh, side) : ChangeClearingReadOnly(side, [&] { return RenameOver(fresh, side); })) {
        return true;
    }
    DeleteFileW(fresh.c_str());
    return false;
}

bool IsTakenError(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// A name taken though not listed (a dangling link under Wine), where the
// shell's copy would create the file the link names.
bool TakenUnseen(const std::string& path) {
    return !Inspect(path).exists && TakenThoughUnseen(Wide(path));
}

// A link at the target gives way itself: the copy is made under a side name
// and renamed over it. Deleting the link first is no way: a system that
// cannot open a link as itself (Wine) deletes the file it names.
bool CopyFileTo(const WalkItem& item, const WalkItem& target) {
    const std::wstring source = Wide(item.path), name = Wide(target.path);
    if (!target.link) {
        const BOOL failIfTaken = target.exists ? FALSE : TRUE;
        if (ChangeClearingReadOnly(name, [&] { return CopyFileW(source.c_str(), name.c_str(), failIfTaken) != 0; })) {
            return true;
        }
        if (target.exists || !IsTakenError(GetLastError())) return false;
        // Taken though not listed: a dangling link (Wine lists none).
    }
    const std::wstring side = name + kCopySide;
    if (!CopyFileW(source.c_str(), side.c_str(), TRUE) && !CopyOverStaleSide(source, side)) return false;
    if (RenameOver(side, name)) return true;
    DeleteFileW(side.c_str());
    return false;
}

// A new link to the item the link names, under its whole name: what the
// link names stays the same wherever the link goes.
bool CopyLink(const WalkItem& item, const WalkItem& target) {
    if (target.exists) return false;
    const HANDLE handle =
        CreateFileW(Wide(item.path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    std::vector<wchar_t> named(32768);
    const DWORD length =
        GetFinalPathNameByHandleW(handle, named.data(), static_cast<DWORD>(named.size()), FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    if (length == 0 || length >= named.size()) return false;
    const DWORD flags = (item.folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2;  // unprivileged, where allowed
    // Wine answers success and makes nothing.
    return CreateSymbolicLinkW(Wide(target.path).c_str(), named.data(), flags) && Inspect(target.path).link;
}

// A link goes by itself, never what it names.
bool RemoveOne(const WalkItem& item) {
    if (item.link && !ActsOnLinkItself(item)) return false;
    const std::wstring name = Wide(item.path);
    if (item.folder) return ChangeClearingReadOnly(name, [&] { return RemoveDirectoryW(name.c_str()) != 0; });
    return ChangeClearingReadOnly(name, [&] { return DeleteFileW(name.c_str()) != 0; });
}

bool MakeFolder(const std::string& path) {
    return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

// A link inside a copied folder is copied as what it names, as the shell
// copies it: making a link takes a privilege players rarely hold.
const ItemAccess kWin32Items = {
    '\\', List, Inspect, Identify, TargetFor, Rename, CopyFileTo, CopyLink, RemoveOne, MakeFolder, false, nullptr, nullptr,
};

// The target folder's name, without the closing backslash the steps give it.
bool TargetFolder(const char* path, std::wstring* folder) {
    if (!LongWideName(path, folder)) return false;
    while (folder->size() > 7 && folder->back() == L'\\') folder->pop_back();
    return true;
}

bool FolderAt(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The name `item` takes in `folder`.
std::string TargetOf(const WalkItem& item, const std::string& folder) {
    return JoinPath(kWin32Items, folder, NameOf(kWin32Items, item.path));
}

// Whether the shell might break a rule taking `item` to `target`: a link
// on either side, or an item meeting one of the other kind, at any depth of
// two folders that would be merged.
bool ShellMayErr(const WalkItem& item, const std::string& target) {
    if (item.link) return true;
    const WalkItem existing = Inspect(target);
    if (!existing.exists) return false;
    if (existing.link || item.folder != existing.folder) return true;
    if (!item.folder) return false;
    std::vector<WalkItem> children;
    if (!List(item.path, "*", &children)) return true;
    for (const WalkItem& child : children) {
        if (ShellMayErr(child, TargetOf(child, target))) return true;
    }
    return false;
}

// Whether a delete of `item` would meet a link anywhere.
bool HoldsLink(const WalkItem& item) {
    if (item.link) return true;
    if (!item.folder) return false;
    std::vector<WalkItem> children;
    if (!List(item.path, "*", &children)) return true;
    for (const WalkItem& child : children) {
        if (HoldsLink(child)) return true;
    }
    return false;
}

bool ShellMayErrOnAny(const std::vector<WalkItem>& items, const std::string* targetFolder) {
    for (const WalkItem& item : items) {
        if (targetFolder ? ShellMayErr(item, TargetOf(item, *targetFolder)) : HoldsLink(item)) {
            return true;
        }
    }
    return false;
}

// The result when the work is not done: the shell's own code, if it gave one.
int Failure(int shellResult, int otherwise) {
    return shellResult != 0 ? shellResult : otherwise;
}

// The items a move or copy request names and the folder they go to. The
// shell would make a missing target folder, or a file in its place.
int ListRequest(const char* from, const char* to, std::vector<WalkItem>* items, std::string* folder, bool* found) {
    std::wstring source, wideFolder;
    if (!LongWideName(from, &source) || !TargetFolder(to, &wideFolder) || !FolderAt(wideFolder)) {
        return ERROR_PATH_NOT_FOUND;
    }
    *folder = Narrow(wideFolder);
    *found = ListSource(kWin32Items, Narrow(source), items);
    return 0;
}

int Win32Move(const char* from, const char* to) {
    std::vector<WalkItem> items;
    std::string folder;
    bool found = false;
    if (const int error = ListRequest(from, to, &items, &folder, &found)) return error;
    const int result = ShellMayErrOnAny(items, &folder) ? 0 : ShellOperation(FO_MOVE, from, to);
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    return MoveListed(kWin32Items, items, folder) ? 0 : Failure(result, ERROR_GEN_FAILURE);
}

int Win32Copy(const char* from, const char* to) {
    std::vector<WalkItem> items;
    std::string folder;
    bool found = false;
    if (const int error = ListRequest(from, to, &items, &folder, &found)) return error;
    bool byItem = ShellMayErrOnAny(items, &folder);
    for (const WalkItem& item : items) {
        if (item.folder) continue;
        byItem = byItem || TakenUnseen(TargetOf(item, folder));
        // What an earlier run's copy onto a link left under its side name.
        RemoveWholeName(Wide(TargetOf(item, folder)) + kCopySide);
    }
    const int result = byItem ? 0 : ShellOperation(FO_COPY, from, to);
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    // What the shell copied is not copied again.
    std::vector<WalkItem> left;
    for (const WalkItem& item : items) {
        if (byItem || result != 0 || !Inspect(TargetOf(item, folder)).exists) left.push_back(item);
    }
    return CopyListed(kWin32Items, left, folder) ? 0 : Failure(result, ERROR_GEN_FAILURE);
}

int Win32Delete(const char* path) {
    std::wstring source;
    if (!LongWideName(path, &source)) return ERROR_PATH_NOT_FOUND;
    std::vector<WalkItem> items;
    const bool found = ListSource(kWin32Items, Narrow(source), &items);
    const int result = ShellMayErrOnAny(items, nullptr) ? 0 : ShellOperation(FO_DELETE, path, nullptr);
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    return DeleteListed(kWin32Items, items) ? 0 : Failure(result, ERROR_GEN_FAILURE);
}

}  // namespace

const FileOperations kNativeFileOperations = {Win32Move, Win32Copy, Win32Delete};
