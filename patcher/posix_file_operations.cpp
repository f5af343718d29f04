// The POSIX items of the move, copy and delete (file_walk.h holds their
// rules): names found without regard to letter case, "*" in the last element
// for every item of a folder, a move within one file system a rename and
// across file systems a durable copy, then a delete. A link inside a copied
// folder is copied as a link, so a link back up cannot make the copy
// endless. Files are read and written through the platform's file access,
// under the names read from their folders.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "file_replacement.h"
#include "side_names.h"
#include "file_walk.h"
#include "platform.h"
#include "posix_file_io.h"
#include "posix_path.h"

namespace {

const int kFailed = 1;
const size_t kCopyBufferSize = 1 << 20;

// Every call below that may meet a network mount's passing failure goes
// through RetryWhileTransient.
bool Inspect(const std::string& path, struct stat* info) {
    return RetryWhileTransient([&] { return lstat(path.c_str(), info) == 0; });
}

bool IsFolder(const struct stat& info) {
    return S_ISDIR(info.st_mode);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? folder + name : folder + "/" + name;
}

std::string LastElement(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A listing that breaks off is no listing: what it missed would count as gone.
bool ListOnce(const std::string& folder, std::vector<std::string>* names) {
    names->clear();
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    for (;;) {
        errno = 0;
        const struct dirent* entry = readdir(dir);
        if (!entry) break;
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    const int error = errno;
    closedir(dir);
    errno = error;
    std::sort(names->begin(), names->end());
    return error == 0;
}

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
    return RetryWhileTransient([&] { return ListOnce(folder, names); });
}

// A link to a folder counts as that folder, so what goes there is merged
// into it. What a mount keeps failing to show counts as there: it is never
// reported gone.
WalkItem InspectItem(const std::string& path) {
    WalkItem item;
    item.path = path;
    struct stat info;
    if (!Inspect(path, &info)) {
        item.exists = IsTransientError(errno);
        return item;
    }
    item.exists = true;
    item.link = S_ISLNK(info.st_mode);
    item.folder = IsFolder(info) || (item.link && stat(path.c_str(), &info) == 0 && IsFolder(info));
    return item;
}

bool ListMatches(const std::string& folder, const std::string& pattern, std::vector<WalkItem>* items) {
    std::vector<std::string> names;
    if (!ListFolder(folder, &names)) return false;
    for (const std::string& name : names) {
        if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
            items->push_back(InspectItem(Join(folder, name)));
        }
    }
    return true;
}

bool Identify(const std::string& path, ItemIdentity* identity) {
    struct stat info;
    if (!RetryWhileTransient([&] { return stat(path.c_str(), &info) == 0; })) return false;
    identity->volume = static_cast<uint64_t>(info.st_dev);
    identity->index = static_cast<uint64_t>(info.st_ino);
    return true;
}

// The names in the target folders of one operation, each folder listed once
// and kept up to date as items arrive, so that a folder of N items costs N
// look-ups and not N listings. Per folder: folded name to the name on disk,
// the smallest one when several differ only in letter case.
using FolderNames = std::unordered_map<std::string, std::string>;
using TargetNames = std::unordered_map<std::string, FolderNames>;

void NoteName(FolderNames& names, const std::string& name) {
    std::string& slot = names[FoldedName(name)];
    if (slot.empty() || name < slot) slot = name;
}

FolderNames& NamesIn(TargetNames& targets, const std::string& folder) {
    const auto [entry, added] = targets.try_emplace(folder);
    if (added) {
        std::vector<std::string> names;
        ListFolder(folder, &names);
        for (const std::string& name : names) NoteName(entry->second, name);
    }
    return entry->second;
}

// The entry of `folder` called `name` in any letter case, so that a target
// never ends up holding both "Saves" and "saves". The name was read from a
// folder and is taken as it is: a backslash in it is no separator.
std::string TargetFor(void* context, const std::string& folder, const std::string& name) {
    TargetNames& targets = *static_cast<TargetNames*>(context);
    const std::string exact = Join(folder, name);
    struct stat info;
    if (Inspect(exact, &info)) return exact;
    FolderNames& names = NamesIn(targets, folder);
    const auto known = names.find(FoldedName(name));
    // An entry gone since the listing is no longer a match.
    if (known != names.end() && Inspect(Join(folder, known->second), &info)) return Join(folder, known->second);
    NoteName(names, name);
    return exact;
}

Renamed Rename(const WalkItem& item, const WalkItem& target) {
    NoteChangedFolder(ParentFolder(target.path));
    if (RetryWhileTransient([&] { return rename(item.path.c_str(), target.path.c_str()) == 0; })) {
        // A rename onto a second name of the same file does nothing; the
        // item's own name, in another folder, is then the one too many.
        struct stat source, renamed, sourceFolder, targetFolder;
        if (lstat(item.path.c_str(), &source) == 0 && lstat(target.path.c_str(), &renamed) == 0 &&
            S_ISREG(source.st_mode) && source.st_dev == renamed.st_dev && source.st_ino == renamed.st_ino &&
            source.st_nlink > 1 && stat(ParentFolder(item.path).c_str(), &sourceFolder) == 0 &&
            stat(ParentFolder(target.path).c_str(), &targetFolder) == 0 && sourceFolder.st_ino != targetFolder.st_ino) {
            unlink(item.path.c_str());
        }
        return Renamed::kDone;
    }
    return errno == EXDEV ? Renamed::kOtherVolume : Renamed::kFailed;
}

// Copies a file's bytes through a side file that takes the target's place
// in one step (file_replacement.h), so the target is never half-written and
// a link at its name is replaced, never written through. The copy keeps the
// source's permission bits and modification time, as the shell's does. The
// buffer is had before anything is made, so a lack of memory leaves nothing.
bool CopyFileOnce(const WalkItem& item, const WalkItem& target) {
    struct stat info;
    if (stat(item.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    void* buffer = CurrentPlatform().allocate(kCopyBufferSize);
    if (!buffer) return false;
    const bool copied = ReplaceWithCopy(ExactName(item.path).c_str(), ExactName(target.path).c_str(), kCopySuffix,
                                        buffer, kCopyBufferSize);
    std::free(buffer);
    if (!copied) return false;
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    utimensat(AT_FDCWD, target.path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return true;
}

bool CopyLinkOnce(const WalkItem& item, const WalkItem& target) {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink(item.path.c_str(), buffer.data(), buffer.size() - 1);
    if (length < 0) return false;
    buffer[static_cast<size_t>(length)] = '\0';
    NoteChangedFolder(ParentFolder(target.path));
    const std::string temporary = Join(ParentFolder(target.path), "." + LastElement(target.path) + kLinkCopySuffix);
    unlink(temporary.c_str());
    if (symlink(buffer.data(), temporary.c_str()) != 0) return false;
    if (rename(temporary.c_str(), target.path.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

// A copy is whole or absent, so a passing failure can be retried from the start.
bool CopyFileReplacing(const WalkItem& item, const WalkItem& target) {
    return RetryWhileTransient([&] { return CopyFileOnce(item, target); });
}

bool CopyLinkReplacing(const WalkItem& item, const WalkItem& target) {
    return RetryWhileTransient([&] { return CopyLinkOnce(item, target); });
}

bool RemoveOne(const WalkItem& item) {
    NoteChangedFolder(ParentFolder(item.path));
    return RetryWhileTransient(
        [&] { return (item.folder && !item.link ? rmdir(item.path.c_str()) : unlink(item.path.c_str())) == 0; });
}

bool MakeFolder(const std::string& path) {
    NoteChangedFolder(ParentFolder(path));
    return RetryWhileTransient([&] { return mkdir(path.c_str(), 0777) == 0; });
}

std::string DescribeErrno() {
    return errno != 0 ? std::strerror(errno) : std::string();
}

const ItemAccess kPosixItems = {
    '/', ListMatches, InspectItem, Identify, TargetFor, Rename, CopyFileReplacing, CopyLinkReplacing, RemoveOne,
    MakeFolder, true, nullptr, DescribeErrno,
};

// A last element with wildcards is a pattern for the listing of its folder,
// never a name to look up: an SMB server refuses "*" in a name with an error
// its client then gives for the whole mount for seconds.
std::string ResolveRequest(const char* path) {
    const std::string text = path;
    const size_t last = text.find_last_of("/\\");
    const std::string name = last == std::string::npos ? text : text.substr(last + 1);
    if (!HasWildcard(name)) {
        // A file system that folds letter case finds "cam.cfg" as it is
        // asked for; the item keeps the spelling its folder lists (CAM.CFG).
        const std::string resolved = ResolvePath(path);
        const std::string parent = ParentFolder(resolved);
        std::string listed;
        if (!FindNameIgnoringCase(parent, LastElement(resolved), &listed)) return resolved;
        return Join(parent, listed);
    }
    const std::string folder = last == std::string::npos ? "." : last == 0 ? "/" : text.substr(0, last);
    return Join(ResolvePath(folder.c_str()), name);
}

bool ExistingFolder(const char* path, std::string* resolved) {
    *resolved = ResolvePath(path);
    return InspectItem(*resolved).folder;
}

// A move or copy: the walk's `step` over what `from` names, into the
// existing folder `to`, with target names looked up once per folder.
int WalkRequest(const char* from, const char* to,
                bool (*step)(const ItemAccess&, const std::vector<WalkItem>&, const std::string&)) {
    TargetNames targets;
    ItemAccess access = kPosixItems;
    access.names = &targets;
    std::string folder;
    std::vector<WalkItem> items;
    if (!ExistingFolder(to, &folder) || !ListSource(access, ResolveRequest(from), &items)) return kFailed;
    return step(access, items, folder) ? 0 : kFailed;
}

int PosixMove(const char* from, const char* to) {
    return WalkRequest(from, to, MoveListed);
}

int PosixCopy(const char* from, const char* to) {
    return WalkRequest(from, to, CopyListed);
}

int PosixDelete(const char* path) {
    std::vector<WalkItem> items;
    if (!ListSource(kPosixItems, ResolveRequest(path), &items)) return kFailed;
    return DeleteListed(kPosixItems, items) ? 0 : kFailed;
}

}  // namespace

const FileOperations kNativeFileOperations = {PosixMove, PosixCopy, PosixDelete};
