#include "win32_item_access.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "win32_file_names.h"
#include "win32_wine.h"

Win32ShellCalls gShellCalls = {SHFileOperationA};

namespace {

// A link to a folder counts as a folder: what goes to it is merged into
// what it names.
WalkItem FoundItem(const std::wstring& path, const WIN32_FIND_DATAW& found) {
    WalkItem item;
    item.path = Narrow(path);
    item.exists = true;
    item.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const DWORD tag = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? found.dwReserved0 : 0;
    item.link = IsListedLink(path, found.dwFileAttributes, tag);
    return item;
}

bool ListWide(const std::wstring& pattern, std::vector<WalkItem>* items) {
    WIN32_FIND_DATAW found;
    const HANDLE search =
        gFileCalls.findFirst(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    const std::wstring folder = FolderOfName(pattern);
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") items->push_back(FoundItem(JoinName(folder, name), found));
    } while (gFileCalls.findNext(search, &found));
    FindClose(search);
    return true;
}

// What a request has seen of each folder it looked into, kept true to its
// own changes. Wine scans a whole folder for each name it does not find, so
// names looked up one by one in a folder of thousands cost thousands each;
// here each folder is listed once per request. A name the request touched
// with an outcome it cannot be sure of is looked up again by itself.
struct SeenEntry {
    std::wstring name;  // as the folder spells it
    bool exists = false;
    bool unsure = false;
    DWORD attributes = 0;
    DWORD tag = 0;
    int link = -1;  // not yet asked
};

struct SeenFolder {
    std::vector<SeenEntry> entries;  // in the order listed
    std::unordered_map<std::wstring, size_t> byName;
};

std::unordered_map<std::wstring, SeenFolder> seen;  // by folded whole name

std::wstring Folded(const std::wstring& text) {
    std::wstring folded = text;
    if (!folded.empty()) CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}

SeenEntry* EntryIn(SeenFolder& folder, const std::wstring& name, bool make) {
    const std::wstring key = Folded(name);
    const auto found = folder.byName.find(key);
    if (found != folder.byName.end()) return &folder.entries[found->second];
    if (!make) return nullptr;
    folder.byName[key] = folder.entries.size();
    folder.entries.push_back(SeenEntry{name});
    return &folder.entries.back();
}

void Fill(SeenEntry* entry, const WIN32_FIND_DATAW& found) {
    entry->name = found.cFileName;
    entry->exists = true;
    entry->unsure = false;
    entry->attributes = found.dwFileAttributes;
    entry->tag = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? found.dwReserved0 : 0;
    entry->link = -1;
}

// The folder's entries, listed now unless seen before; null where it
// cannot be listed (it is missing, or not a folder).
SeenFolder* Seen(const std::wstring& folder) {
    const std::wstring key = Folded(folder);
    const auto known = seen.find(key);
    if (known != seen.end()) return &known->second;
    WIN32_FIND_DATAW found;
    const HANDLE search =
        gFileCalls.findFirst(JoinName(folder, L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    SeenFolder& listed = seen[key];
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") Fill(EntryIn(listed, name, true), found);
    } while (gFileCalls.findNext(search, &found));
    FindClose(search);
    return &listed;
}

WalkItem ItemOf(const std::wstring& folder, SeenEntry& entry) {
    const std::wstring path = JoinName(folder, entry.name);
    WalkItem item;
    item.path = Narrow(path);
    item.exists = true;
    item.folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (entry.link < 0) entry.link = IsListedLink(path, entry.attributes, entry.tag) ? 1 : 0;
    item.link = entry.link == 1;
    return item;
}

// What now stands at `path`, as a change of ours left it: `now`, or
// nothing. A folder that went or came is listed afresh when next asked.
void Saw(const std::wstring& path, const WalkItem* now) {
    const std::wstring key = Folded(path);
    for (auto at = seen.begin(); at != seen.end();) {
        const bool below = at->first.size() > key.size() && at->first.compare(0, key.size(), key) == 0 &&
                           at->first[key.size()] == L'\\';
        at = at->first == key || below ? seen.erase(at) : std::next(at);
    }
    const auto folder = seen.find(Folded(FolderOfName(path)));
    if (folder == seen.end()) return;
    SeenEntry* entry = EntryIn(folder->second, LastElementOf(path), now != nullptr);
    if (!entry) return;
    entry->exists = now != nullptr;
    entry->unsure = false;
    if (now) {
        entry->attributes = now->folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        entry->link = now->link ? 1 : 0;
    }
}

// A change whose outcome at `path` is not known for sure.
void Unsure(const std::wstring& path) {
    WalkItem anything;
    Saw(path, &anything);
    const auto folder = seen.find(Folded(FolderOfName(path)));
    if (folder != seen.end()) EntryIn(folder->second, LastElementOf(path), true)->unsure = true;
}

bool List(const std::string& folder, const std::string& pattern, std::vector<WalkItem>* items) {
    const std::wstring wide = Wide(folder);
    SeenFolder* listed = pattern == "*" ? Seen(wide) : nullptr;
    if (!listed) return ListWide(JoinName(wide, Wide(pattern)), items);
    // By index: looking an unsure name up again notes what it found.
    for (size_t i = 0; i < listed->entries.size(); ++i) {
        if (listed->entries[i].unsure) {
            const WalkItem again = InspectItem(Narrow(JoinName(wide, listed->entries[i].name)));
            if (again.exists) items->push_back(again);
        } else if (listed->entries[i].exists) {
            items->push_back(ItemOf(wide, listed->entries[i]));
        }
    }
    return true;
}

// The name looked up by itself.
WalkItem LookUp(const std::string& path) {
    const std::wstring wide = Wide(path);
    std::vector<WalkItem> found;
    if (ListWide(wide, &found) && found.size() == 1) {
        found[0].path = path;
        return found[0];
    }
    WalkItem missing;
    missing.path = path;
    return missing;
}

// The file system finds names without regard to letter case itself.
std::string TargetFor(void*, const std::string& folder, const std::string& name) {
    return Narrow(JoinName(Wide(folder), Wide(name)));
}

// A link is not carried to another volume as what it names. A move to
// another volume is a copy and a delete: it is written through, so the
// source goes only once the copy is on the disk.
Renamed Rename(const WalkItem& item, const WalkItem& target) {
    if (item.link && !ActsOnLinkItself(Wide(item.path))) return Renamed::kFailed;
    const std::wstring source = Wide(item.path), name = Wide(target.path);
    const DWORD replace = target.exists ? MOVEFILE_REPLACE_EXISTING : 0;
    const auto move = [&](DWORD flags) {
        return ChangeClearingReadOnly(name, [&] { return MoveFileExW(source.c_str(), name.c_str(), flags) != 0; });
    };
    if (move(replace)) return Renamed::kDone;
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) return Renamed::kFailed;
    if (!item.link && !item.folder && move(replace | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        return Renamed::kDone;
    }
    return GetLastError() == ERROR_NOT_SAME_DEVICE || item.folder || item.link ? Renamed::kOtherVolume
                                                                               : Renamed::kFailed;
}

// Renames `from` over `to`, which replaces the entry at `to`, a link
// included, never what a link there names.
bool RenameOver(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// A copy is flushed before the call answers: a move to another volume
// removes its source right after, and a power cut then must not take both.
// A read-only copy (as its source was) is opened for the flush with the
// attribute cleared a moment.
bool CopyFlushed(const std::wstring& source, const std::wstring& name, BOOL failIfTaken) {
    if (!CopyFileW(source.c_str(), name.c_str(), failIfTaken)) return false;
    const DWORD attributes = GetFileAttributesW(name.c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const HANDLE copy = CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    const BOOL flushed = copy != INVALID_HANDLE_VALUE && FlushFileBuffers(copy);
    const DWORD error = GetLastError();
    if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
    if (readOnly) SetFileAttributesW(name.c_str(), attributes);
    SetLastError(error);
    return flushed != 0;
}

// A side file an earlier run left is replaced as the link is: a second copy
// is renamed over it, since a link there cannot be deleted safely and Wine
// does not even list a dangling one. A folder there is the player's and
// stops the copy.
bool CopyOverStaleSide(const std::wstring& source, const std::wstring& name) {
    const std::wstring side = name + WideSuffix(kCopySuffix), fresh = name + WideSuffix(kCopyAgainSuffix);
    const WalkItem stale = InspectItem(Narrow(side));
    Unsure(side);
    Unsure(fresh);
    if (stale.folder || !CopyFlushed(source, fresh, TRUE)) return false;
    if (stale.link ? RenameOver(fresh, side) : ChangeClearingReadOnly(side, [&] { return RenameOver(fresh, side); })) {
        return true;
    }
    DeleteFileW(fresh.c_str());
    return false;
}

bool IsTakenError(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// A link at the target gives way itself: the copy is made under a side name
// and renamed over it. Deleting the link first is no way: a system that
// cannot open a link as itself (Wine) deletes the file it names.
bool CopyFileTo(const WalkItem& item, const WalkItem& target) {
    const std::wstring source = Wide(item.path), name = Wide(target.path);
    if (!target.link) {
        const BOOL failIfTaken = target.exists ? FALSE : TRUE;
        if (ChangeClearingReadOnly(name, [&] { return CopyFlushed(source, name, failIfTaken); })) return true;
        // Wine 8: lists no dangling link, and a copy to a free-looking name
        // finds it taken. Shown by Matrix.Wine (link-copy-target-dangling);
        // goes once Wine lists dangling links. On Windows such a name
        // appeared meanwhile, and is not replaced.
        if (target.exists || !IsTakenError(GetLastError()) || !RunningUnderWine()) return false;
    }
    const std::wstring side = name + WideSuffix(kCopySuffix);
    Unsure(side);
    if (!CopyFlushed(source, side, TRUE) && !CopyOverStaleSide(source, name)) return false;
    if (RenameOver(side, name)) return true;
    DeleteFileW(side.c_str());
    return false;
}

// A new link to the item the link names, under its whole name: what the
// link names stays the same wherever the link goes.
bool CopyLink(const WalkItem& item, const WalkItem& target) {
    if (target.exists) return false;
    std::wstring named;
    if (!FinalNameOf(Wide(item.path), &named)) return false;
    const DWORD flags = (item.folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2;  // unprivileged, where allowed
    if (!CreateSymbolicLinkW(Wide(target.path).c_str(), named.c_str(), flags)) return false;
    // Wine 8: CreateSymbolicLinkW answers success and makes nothing. Shown
    // by Matrix.Wine (a move of a link to another volume); goes once Wine
    // makes links.
    return !RunningUnderWine() || InspectItem(target.path).link;
}

// A link goes by itself, never what it names.
bool RemoveOne(const WalkItem& item) {
    return (!item.link || ActsOnLinkItself(Wide(item.path))) && DeleteWholeName(Wide(item.path), item.folder);
}

bool MakeFolder(const std::string& path) {
    return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

// Each change, with what it leaves noted among the folders seen; the last
// error stays the change's.
Renamed RenameNoted(const WalkItem& item, const WalkItem& target) {
    const Renamed renamed = Rename(item, target);
    const DWORD error = GetLastError();
    if (renamed == Renamed::kDone) {
        Saw(Wide(item.path), nullptr);
        Saw(Wide(target.path), &item);
    } else {
        Unsure(Wide(item.path));
        Unsure(Wide(target.path));
    }
    SetLastError(error);
    return renamed;
}

bool CopyFileNoted(const WalkItem& item, const WalkItem& target) {
    const bool copied = CopyFileTo(item, target);
    const DWORD error = GetLastError();
    WalkItem file;
    if (copied) {
        Saw(Wide(target.path), &file);
    } else {
        Unsure(Wide(target.path));
    }
    SetLastError(error);
    return copied;
}

bool CopyLinkNoted(const WalkItem& item, const WalkItem& target) {
    const bool made = CopyLink(item, target);
    const DWORD error = GetLastError();
    Unsure(Wide(target.path));
    SetLastError(error);
    return made;
}

bool RemoveNoted(const WalkItem& item) {
    const bool removed = RemoveOne(item);
    const DWORD error = GetLastError();
    if (removed) {
        Saw(Wide(item.path), nullptr);
    } else {
        Unsure(Wide(item.path));
    }
    SetLastError(error);
    return removed;
}

bool MakeFolderNoted(const std::string& path) {
    const bool made = MakeFolder(path);
    const DWORD error = GetLastError();
    WalkItem folder;
    folder.folder = true;
    if (made) {
        Saw(Wide(path), &folder);
    } else {
        Unsure(Wide(path));
    }
    SetLastError(error);
    return made;
}

void TrimEnd(std::wstring* text) {
    while (!text->empty() && (text->back() == L'\r' || text->back() == L'\n' || text->back() == L' ' ||
                              text->back() == L'.')) {
        text->pop_back();
    }
}

// The system's words for the last error, in English where the system has
// them (the box's other words are English), in the walk's UTF-8 as its
// paths are.
std::string DescribeLastError() {
    const DWORD error = GetLastError();
    if (error == ERROR_SUCCESS) return std::string();
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD languages[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0};
    for (const DWORD language : languages) {
        wchar_t* text = nullptr;
        const DWORD length =
            FormatMessageW(flags, nullptr, error, language, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        if (length == 0) continue;
        std::wstring words(text, length);
        LocalFree(text);
        TrimEnd(&words);
        if (!words.empty()) return Narrow(words) + " (" + std::to_string(error) + ")";
    }
    return "system error " + std::to_string(error);
}

}  // namespace

WalkItem InspectItem(const std::string& path) {
    const std::wstring wide = Wide(path);
    const std::wstring folder = FolderOfName(wide), name = LastElementOf(wide);
    WalkItem missing;
    missing.path = path;
    if (folder.empty() || HasWildcard(Narrow(name))) return missing;
    SeenFolder* listed = Seen(folder);
    if (!listed) return LookUp(path);
    SeenEntry* entry = EntryIn(*listed, name, false);
    if (!entry) return missing;
    if (entry->unsure) {
        const WalkItem item = LookUp(path);
        Saw(wide, item.exists ? &item : nullptr);
        return item;
    }
    if (!entry->exists) return missing;
    WalkItem item = ItemOf(folder, *entry);
    item.path = path;
    return item;
}

void ForgetSeen() {
    seen.clear();
}

// An id of 0 says nothing: the walk never takes it for the same item.
bool IdentifyItem(const std::string& path, ItemIdentity* identity) {
    FileIdentity id;
    if (!IdentityOf(Wide(path), &id)) return false;
    static_assert(sizeof id.id == sizeof identity->index + sizeof identity->indexHigh);
    identity->volume = id.volume;
    std::memcpy(&identity->index, id.id, sizeof identity->index);
    std::memcpy(&identity->indexHigh, id.id + sizeof identity->index, sizeof identity->indexHigh);
    return true;
}

bool TakenUnseen(const std::string& path) {
    // Wine 8: lists no dangling link, where the shell's copy would create
    // the file the link names; an exclusive create tells. Shown by
    // Matrix.Wine (link-copy-target-dangling); goes once Wine lists
    // dangling links. Windows lists them, and no probe is made there.
    return RunningUnderWine() && !InspectItem(path).exists && TakenThoughUnseen(Wide(path));
}

void ClearCopySide(const std::string& target) {
    const std::wstring side = Wide(target) + WideSuffix(kCopySuffix);
    // Wine 8: lists no dangling link, so the name is cleared unseen too.
    // Shown by Matrix.Wine (stale copy link); goes once Wine lists dangling
    // links. On Windows only a listed side name is removed, and a free name
    // is never probed.
    if (!RunningUnderWine() && !InspectItem(Narrow(side)).exists) return;
    if (RemoveWholeName(side)) {
        Saw(side, nullptr);
    } else {
        Unsure(side);
    }
}

// A link inside a copied folder is copied as what it names, as the shell
// copies it: making a link takes a privilege players rarely hold.
const ItemAccess kWin32Items = {
    '\\',        List,    InspectItem,      IdentifyItem, TargetFor, RenameNoted, CopyFileNoted, CopyLinkNoted,
    RemoveNoted, MakeFolderNoted, false, nullptr, DescribeLastError,
};
