// Each primitive is one silent shell file operation on a one-path list,
// unless a look at the disk first finds something the shell may get wrong:
// a link or junction among the items or at their targets, an item meeting
// one of the other kind (Wine's shell puts a folder in a file's place, and
// deletes what a linked folder names), or a move to another volume (the
// shell's copy is not flushed before it deletes the source). Such a
// request is done item by item alone (win32_item_access.h). Otherwise what
// the shell leaves undone is finished item by item, judged by what is on
// the disk afterwards to full depth, not by the shell's answer alone: some
// shells (Wine's) refuse a wildcard of several files, answer 0 and leave a
// folder unmoved where a same-named one waits at the target, or leave the
// folders inside a moved one on overlayfs; a shell may answer 0 having
// stopped half-way (fAnyOperationsAborted).
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "file_walk.h"
#include "game_root.h"
#include "left_behind.h"
#include "path_format.h"
#include "platform.h"
#include "win32_file_names.h"
#include "win32_item_access.h"

namespace {

const FILEOP_FLAGS kSilentFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;  // 0x0214

// The shell's one-path list: the path, its zero, and a closing zero.
void ToPathList(const char* path, char (&list)[kPathBufferSize]) {
    std::memset(list, 0, sizeof list);
    std::memcpy(list, path, std::strlen(path));
}

// The shell's answer; a request it stopped on its own counts as not done.
struct ShellAnswer {
    int result = 0;
    bool aborted = false;
};

ShellAnswer ShellOperation(UINT function, const char* from, const char* to) {
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
    ShellAnswer answer;
    answer.result = gShellCalls.shellOperation(&request);
    ForgetSeen();
    answer.aborted = request.fAnyOperationsAborted != FALSE;
    return answer;
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

bool List(const std::string& folder, std::vector<WalkItem>* items) {
    return kWin32Items.list(folder, "*", items);
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
    const WalkItem existing = InspectItem(target);
    if (!existing.exists) return false;
    if (existing.link || item.folder != existing.folder) return true;
    if (!item.folder) return false;
    std::vector<WalkItem> children;
    if (!List(item.path, &children)) return true;
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
    if (!List(item.path, &children)) return true;
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

bool OnOtherVolume(const std::vector<WalkItem>& items, const std::string& folder) {
    ItemIdentity there, here;
    if (!IdentifyItem(folder, &there)) return true;
    for (const WalkItem& item : items) {
        if (!IdentifyItem(item.path, &here) || here.volume != there.volume) return true;
    }
    return false;
}

bool SameSize(const std::string& a, const std::string& b) {
    WIN32_FILE_ATTRIBUTE_DATA first, second;
    return GetFileAttributesExW(Wide(a).c_str(), GetFileExInfoStandard, &first) &&
           GetFileAttributesExW(Wide(b).c_str(), GetFileExInfoStandard, &second) &&
           first.nFileSizeHigh == second.nFileSizeHigh && first.nFileSizeLow == second.nFileSizeLow;
}

// Whether everything of `item` stands at `target`, to full depth: each
// file at its name with its size, each folder with all its entries.
bool CopiedWhole(const WalkItem& item, const std::string& target) {
    const WalkItem copy = InspectItem(target);
    if (!copy.exists || copy.folder != item.folder) return false;
    if (!item.folder) return SameSize(item.path, target);
    std::vector<WalkItem> children;
    if (!List(item.path, &children)) return false;
    for (const WalkItem& child : children) {
        if (!CopiedWhole(child, TargetOf(child, target))) return false;
    }
    return true;
}

// What one request saw is no part of the next: other code changes the disk
// between them.
struct SeenScope {
    SeenScope() { ForgetSeen(); }
    ~SeenScope() { ForgetSeen(); }
};

// The result when the work is not done: the shell's own code, if it gave one.
int Failure(int shellResult, int otherwise) {
    return shellResult != 0 ? shellResult : otherwise;
}

// What stays is named below the game folder as the walk spells it: in
// UTF-8, which GameRoot, in the code page, is not beyond ASCII.
void NameLeftBehindBelowGameRoot() {
    std::wstring root;
    if (GameRoot && WholeWideName(GameRoot, &root)) SetLeftBehindRoot(Narrow(root));
}

// The items a move or copy request names and the folder they go to. The
// shell would make a missing target folder, or a file in its place.
int ListRequest(const char* from, const char* to, std::vector<WalkItem>* items, std::string* folder, bool* found) {
    NameLeftBehindBelowGameRoot();
    std::wstring source, wideFolder;
    if (!LongWideName(from, &source) || !TargetFolder(to, &wideFolder) || !FolderAt(wideFolder)) {
        return ERROR_PATH_NOT_FOUND;
    }
    *folder = Narrow(wideFolder);
    *found = ListSource(kWin32Items, Narrow(source), items);
    return 0;
}

// What the shell left of a move, at any depth, is still at its source: the
// walk finishes each listed item that is.
int Win32Move(const char* from, const char* to) {
    const SeenScope scope;
    std::vector<WalkItem> items;
    std::string folder;
    bool found = false;
    if (const int error = ListRequest(from, to, &items, &folder, &found)) return error;
    const bool byItem = ShellMayErrOnAny(items, &folder) || OnOtherVolume(items, folder);
    const int result = byItem ? 0 : ShellOperation(FO_MOVE, from, to).result;
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    return MoveListed(kWin32Items, items, folder) ? 0 : Failure(result, ERROR_GEN_FAILURE);
}

// What the shell copied whole is not copied again.
int Win32Copy(const char* from, const char* to) {
    const SeenScope scope;
    std::vector<WalkItem> items;
    std::string folder;
    bool found = false;
    if (const int error = ListRequest(from, to, &items, &folder, &found)) return error;
    bool byItem = ShellMayErrOnAny(items, &folder);
    for (const WalkItem& item : items) {
        if (item.folder) continue;
        byItem = byItem || TakenUnseen(TargetOf(item, folder));
        ClearCopySide(TargetOf(item, folder));
    }
    const ShellAnswer shell = byItem ? ShellAnswer() : ShellOperation(FO_COPY, from, to);
    if (!found) return Failure(shell.result, ERROR_FILE_NOT_FOUND);
    const bool trustNone = byItem || shell.result != 0 || shell.aborted;
    std::vector<WalkItem> left;
    for (const WalkItem& item : items) {
        if (trustNone || !CopiedWhole(item, TargetOf(item, folder))) left.push_back(item);
    }
    return CopyListed(kWin32Items, left, folder) ? 0 : Failure(shell.result, ERROR_GEN_FAILURE);
}

int Win32Delete(const char* path) {
    const SeenScope scope;
    NameLeftBehindBelowGameRoot();
    std::wstring source;
    if (!LongWideName(path, &source)) return ERROR_PATH_NOT_FOUND;
    std::vector<WalkItem> items;
    const bool found = ListSource(kWin32Items, Narrow(source), &items);
    const int result = ShellMayErrOnAny(items, nullptr) ? 0 : ShellOperation(FO_DELETE, path, nullptr).result;
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    return DeleteListed(kWin32Items, items) ? 0 : Failure(result, ERROR_GEN_FAILURE);
}

}  // namespace

const FileOperations kNativeFileOperations = {Win32Move, Win32Copy, Win32Delete};
