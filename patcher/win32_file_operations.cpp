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

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "path_format.h"
#include "platform.h"
#include "win32_file_names.h"

namespace {

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

// What stands at a name; a link is not followed.
struct Entry {
    std::wstring path;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    DWORD tag = 0;  // the reparse tag of a reparse point
};

bool Exists(const Entry& entry) {
    return entry.attributes != INVALID_FILE_ATTRIBUTES;
}

// A link to a folder counts as a folder: what goes to it is merged into
// what it names.
bool IsFolder(const Entry& entry) {
    return Exists(entry) && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    size_t end = folder.size();
    while (end > 0 && folder[end - 1] == L'\\') --end;
    return folder.substr(0, end) + L"\\" + name;
}

std::wstring NameOf(const std::wstring& path) {
    return path.substr(path.rfind(L'\\') + 1);
}

std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.rfind(L'\\'));
}

// The volume and the name the system resolves `path` to, every link
// followed; with FILE_FLAG_OPEN_REPARSE_POINT a link at the last element is
// not, where the system can open a link itself. (Wine's final path names
// end at 259 characters; the file's own name has no such limit.)
bool ResolvedName(const std::wstring& path, DWORD flags, std::wstring* name) {
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    std::vector<DWORD> buffer(sizeof(FILE_NAME_INFO) / sizeof(DWORD) + 32768);
    BY_HANDLE_FILE_INFORMATION info;
    const bool named = GetFileInformationByHandleEx(handle, FileNameInfo, buffer.data(),
                                                    static_cast<DWORD>(buffer.size() * sizeof(DWORD))) &&
                       GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!named) return false;
    const FILE_NAME_INFO* file = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
    *name = std::to_wstring(info.dwVolumeSerialNumber) + L":" +
            std::wstring(file->FileName, file->FileNameLength / sizeof(wchar_t));
    return true;
}

enum class Reached { kAtOwnName, kElsewhere, kUnknown };

// Where the system reaches `item` when asked to open it with `flags`: under
// its own name (its folder resolved), or elsewhere, through a link at the
// last element.
Reached Reach(const Entry& item, DWORD flags) {
    std::wstring folder, reached;
    if (!ResolvedName(FolderOf(item.path), 0, &folder) || !ResolvedName(item.path, flags, &reached)) {
        return Reached::kUnknown;
    }
    const std::wstring own = Join(folder, NameOf(item.path));
    return CompareStringOrdinal(reached.c_str(), -1, own.c_str(), -1, TRUE) == CSTR_EQUAL ? Reached::kAtOwnName
                                                                                          : Reached::kElsewhere;
}

// Symbolic links and junctions. Wine shows only a link to a folder as a
// reparse point; a name the system resolves to another is a link too. A
// reparse point that is a file of its own (a cloud placeholder, a
// deduplicated file) is an item like any other.
bool IsLink(const Entry& entry) {
    if (!Exists(entry)) return false;
    if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return entry.tag == 0 || IsReparseTagNameSurrogate(entry.tag);
    return Reach(entry, 0) == Reached::kElsewhere;
}

// Whether a move or delete of the link `item` acts on the link itself.
// Where the system cannot open a link as itself (Wine moves and deletes
// what it names), the link is left alone.
bool ActsOnLinkItself(const Entry& item) {
    return Reach(item, FILE_FLAG_OPEN_REPARSE_POINT) == Reached::kAtOwnName;
}

Entry FoundEntry(const std::wstring& path, const WIN32_FIND_DATAW& found) {
    Entry entry;
    entry.path = path;
    entry.attributes = found.dwFileAttributes;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) entry.tag = found.dwReserved0;
    return entry;
}

// The entries `pattern` (a folder and a last element that may hold
// wildcards) matches. False when the folder cannot be listed.
bool List(const std::wstring& pattern, std::vector<Entry>* entries) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    const std::wstring folder = FolderOf(pattern);
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") entries->push_back(FoundEntry(Join(folder, name), found));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool ListFolder(const std::wstring& folder, std::vector<Entry>* entries) {
    return List(Join(folder, L"*"), entries);
}

Entry Inspect(const std::wstring& path) {
    std::vector<Entry> found;
    if (path.find_first_of(L"*?", path.rfind(L'\\')) == std::wstring::npos && List(path, &found) && found.size() == 1) {
        found[0].path = path;
        return found[0];
    }
    Entry missing;
    missing.path = path;
    return missing;
}

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

// The items a source names: one existing item, or every entry of a folder
// that a wildcard last element matches. False when the item or the folder
// does not exist.
bool ExpandSource(const std::wstring& source, std::vector<Entry>* items) {
    if (NameOf(source).find_first_of(L"*?") != std::wstring::npos) {
        return FolderAt(FolderOf(source)) && List(source, items);
    }
    const Entry item = Inspect(source);
    if (Exists(item)) items->push_back(item);
    return Exists(item);
}

// Whether the shell might break a rule taking `item` to `target`: a link
// on either side, or an item meeting one of the other kind, at any depth of
// two folders that would be merged.
bool ShellMayErr(const Entry& item, const std::wstring& target) {
    if (IsLink(item)) return true;
    const Entry existing = Inspect(target);
    if (!Exists(existing)) return false;
    if (IsLink(existing) || IsFolder(item) != IsFolder(existing)) return true;
    if (!IsFolder(item)) return false;
    std::vector<Entry> children;
    if (!ListFolder(item.path, &children)) return true;
    for (const Entry& child : children) {
        if (ShellMayErr(child, Join(target, NameOf(child.path)))) return true;
    }
    return false;
}

// Whether a delete of `item` would meet a link anywhere.
bool HoldsLink(const Entry& item) {
    if (IsLink(item)) return true;
    if (!IsFolder(item)) return false;
    std::vector<Entry> children;
    if (!ListFolder(item.path, &children)) return true;
    for (const Entry& child : children) {
        if (HoldsLink(child)) return true;
    }
    return false;
}

bool ShellMayErrOnAny(const std::vector<Entry>& items, const std::wstring* targetFolder) {
    for (const Entry& item : items) {
        if (targetFolder ? ShellMayErr(item, Join(*targetFolder, NameOf(item.path))) : HoldsLink(item)) return true;
    }
    return false;
}

// A link goes by itself, never what it names.
bool RemoveItem(const Entry& item) {
    const bool link = IsLink(item);
    if (link && !ActsOnLinkItself(item)) return false;
    if (!IsFolder(item)) {
        return ChangeClearingReadOnly(item.path, [&] { return DeleteFileW(item.path.c_str()) != 0; });
    }
    bool removed = true;
    if (!link) {
        std::vector<Entry> children;
        removed = ListFolder(item.path, &children);
        for (const Entry& child : children) removed = RemoveItem(child) && removed;
    }
    return removed && ChangeClearingReadOnly(item.path, [&] { return RemoveDirectoryW(item.path.c_str()) != 0; });
}

// The volume and file index of a folder, links followed.
using Identity = std::pair<DWORD, ULONGLONG>;

bool IdentityOf(const std::wstring& folder, Identity* identity) {
    const HANDLE handle = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL got = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!got) return false;
    *identity = {info.dwVolumeSerialNumber, (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

// Copies `item` into the folder `targetFolder` under its own name, links
// as what they name, as the shell does: a file of that name is replaced, a
// folder of that name merged, an item of the other kind left alone.
// `within` holds the folders being copied around this one, so a link back
// up one of them is not followed without end.
bool CopyItem(const Entry& item, const std::wstring& targetFolder, std::vector<Identity>& within) {
    const std::wstring target = Join(targetFolder, NameOf(item.path));
    const Entry existing = Inspect(target);
    if (Exists(existing) && IsFolder(item) != IsFolder(existing)) return false;
    if (IsFolder(item)) {
        Identity identity;
        if (!IdentityOf(item.path, &identity)) return false;
        for (const Identity& outer : within) {
            if (outer == identity) return false;
        }
        if (!Exists(existing) && !CreateDirectoryW(target.c_str(), nullptr)) return false;
        std::vector<Entry> children;
        bool copied = ListFolder(item.path, &children);
        within.push_back(identity);
        for (const Entry& child : children) {
            // A folder copied into itself would copy its own copy without end.
            if (lstrcmpiW(child.path.c_str(), target.c_str()) == 0) continue;
            copied = CopyItem(child, target, within) && copied;
        }
        within.pop_back();
        return copied;
    }
    // A link at the target gives way itself; the file it names is not written.
    if (IsLink(existing) && (!ActsOnLinkItself(existing) || !DeleteFileW(target.c_str()))) return false;
    return ChangeClearingReadOnly(target, [&] { return CopyFileW(item.path.c_str(), target.c_str(), FALSE) != 0; });
}

bool CopyItem(const Entry& item, const std::wstring& targetFolder) {
    std::vector<Identity> within;
    return CopyItem(item, targetFolder, within);
}

// Moves `item` into the folder `targetFolder` under its own name, with the
// same replace and merge rules as the copy; a link moves as the link, and
// is no folder to merge.
bool MoveItem(const Entry& item, const std::wstring& targetFolder) {
    const std::wstring target = Join(targetFolder, NameOf(item.path));
    const Entry existing = Inspect(target);
    const bool link = IsLink(item);
    if (link && !ActsOnLinkItself(item)) return false;
    const bool mergeable = IsFolder(item) && !link;
    if (Exists(existing)) {
        if (mergeable != IsFolder(existing)) return false;
        if (!mergeable) {
            return ChangeClearingReadOnly(target, [&] {
                return MoveFileExW(item.path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
            });
        }
        std::vector<Entry> children;
        bool moved = ListFolder(item.path, &children);
        for (const Entry& child : children) moved = MoveItem(child, target) && moved;
        return moved && ChangeClearingReadOnly(item.path, [&] { return RemoveDirectoryW(item.path.c_str()) != 0; });
    }
    // A link is not carried to another volume as what it names.
    if (MoveFileExW(item.path.c_str(), target.c_str(), link ? 0 : MOVEFILE_COPY_ALLOWED)) return true;
    // A folder is not renamed onto another volume: it is copied, then removed.
    return GetLastError() == ERROR_NOT_SAME_DEVICE && mergeable && CopyItem(item, targetFolder) && RemoveItem(item);
}

// The result when the work is not done: the shell's own code, if it gave one.
int Failure(int shellResult, int otherwise) {
    return shellResult != 0 ? shellResult : otherwise;
}

bool AnyLeft(const std::vector<Entry>& items) {
    for (const Entry& item : items) {
        if (Exists(Inspect(item.path))) return true;
    }
    return false;
}

int Win32Move(const char* from, const char* to) {
    std::wstring source, folder;
    // The shell would make a missing target folder, or a file in its place.
    if (!LongWideName(from, &source) || !TargetFolder(to, &folder) || !FolderAt(folder)) return ERROR_PATH_NOT_FOUND;
    std::vector<Entry> items;
    const bool found = ExpandSource(source, &items);
    const int result = ShellMayErrOnAny(items, &folder) ? 0 : ShellOperation(FO_MOVE, from, to);
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    for (const Entry& item : items) {
        const Entry left = Inspect(item.path);
        if (Exists(left)) MoveItem(left, folder);
    }
    return AnyLeft(items) ? Failure(result, ERROR_GEN_FAILURE) : 0;
}

int Win32Copy(const char* from, const char* to) {
    std::wstring source, folder;
    // Copying onto a missing folder "q8r" would make a file of that name.
    if (!LongWideName(from, &source) || !TargetFolder(to, &folder) || !FolderAt(folder)) return ERROR_PATH_NOT_FOUND;
    std::vector<Entry> items;
    const bool found = ExpandSource(source, &items);
    const bool byItem = ShellMayErrOnAny(items, &folder);
    const int result = byItem ? 0 : ShellOperation(FO_COPY, from, to);
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    bool copied = true;
    for (const Entry& item : items) {
        if (byItem || result != 0 || !Exists(Inspect(Join(folder, NameOf(item.path))))) {
            copied = CopyItem(item, folder) && copied;
        }
    }
    return copied ? 0 : Failure(result, ERROR_GEN_FAILURE);
}

int Win32Delete(const char* path) {
    std::wstring source;
    if (!LongWideName(path, &source)) return ERROR_PATH_NOT_FOUND;
    std::vector<Entry> items;
    const bool found = ExpandSource(source, &items);
    const int result = ShellMayErrOnAny(items, nullptr) ? 0 : ShellOperation(FO_DELETE, path, nullptr);
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    for (const Entry& item : items) {
        const Entry left = Inspect(item.path);
        if (Exists(left)) RemoveItem(left);
    }
    return AnyLeft(items) ? Failure(result, ERROR_GEN_FAILURE) : 0;
}

}  // namespace

const FileOperations kNativeFileOperations = {Win32Move, Win32Copy, Win32Delete};
