// Our own move, copy and delete of whole items on POSIX, with the effects of
// the Windows shell's: names found without regard to letter case, "*" in the
// last element for every item of a folder, folders processed whole, files at
// the target replaced and folders merged. A move within one file system is a
// rename; across file systems it is a durable copy followed by a delete.
// Links to folders are followed on the way, as Windows follows them; a link
// that is itself an item is moved or deleted as the link, never what it
// names, and a file never replaces what a link at its name points to: a move
// or a copy replaces the link itself. Files are read and written through the
// platform's file access, under the names read from their folders.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

#include "file_replacement.h"
#include "platform.h"
#include "posix_file_io.h"
#include "posix_path.h"

namespace {

const int kFailed = 1;
const size_t kCopyBufferSize = 1 << 20;

bool Inspect(const std::string& path, struct stat* info) {
    return lstat(path.c_str(), info) == 0;
}

// What stands at a target's name: a link to a folder counts as that folder,
// so what goes there is merged into it; any other link is an item itself.
bool InspectTarget(const std::string& path, struct stat* info) {
    if (!Inspect(path, info)) return false;
    struct stat followed;
    if (S_ISLNK(info->st_mode) && stat(path.c_str(), &followed) == 0 && S_ISDIR(followed.st_mode)) *info = followed;
    return true;
}

bool IsFolder(const struct stat& info) {
    return S_ISDIR(info.st_mode);
}

bool SameItem(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? folder + name : folder + "/" + name;
}

std::string LastElement(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    while (struct dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    closedir(dir);
    std::sort(names->begin(), names->end());
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
std::string TargetFor(TargetNames& targets, const std::string& folder, const std::string& name) {
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

// The items a source names: one existing item, or the entries of a folder
// that match a wildcard last element. False when the source does not exist.
bool ExpandSource(const char* source, std::vector<std::string>* items) {
    const std::string written = ResolvePath(source);
    const std::string last = LastElement(written);
    if (last.find_first_of("*?") == std::string::npos) {
        struct stat info;
        if (!Inspect(written, &info)) return false;
        items->push_back(written);
        return true;
    }
    const std::string folder = ParentFolder(written);
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !IsFolder(info)) return false;
    std::vector<std::string> names;
    if (!ListFolder(folder, &names)) return false;
    for (const std::string& name : names) {
        if (fnmatch(last.c_str(), name.c_str(), FNM_CASEFOLD) == 0) items->push_back(Join(folder, name));
    }
    return true;
}

bool ExistingFolder(const char* path, std::string* resolved) {
    *resolved = ResolvePath(path);
    struct stat info;
    return stat(resolved->c_str(), &info) == 0 && IsFolder(info);
}

bool RemoveItem(const std::string& path) {
    struct stat info;
    if (!Inspect(path, &info)) return false;
    if (!IsFolder(info)) return unlink(path.c_str()) == 0;
    std::vector<std::string> names;
    if (!ListFolder(path, &names)) return false;
    bool removed = true;
    for (const std::string& name : names) removed = RemoveItem(Join(path, name)) && removed;
    return removed && rmdir(path.c_str()) == 0;
}

// Copies a file's bytes through a side file that takes the target's place
// in one step (file_replacement.h), so `target` is never half-written and a
// link at its name is replaced, never written through. The copy keeps the
// source's permission bits and modification time, as the shell's does. The
// buffer is had before anything is made, so a lack of memory leaves nothing.
bool CopyFileReplacing(const std::string& source, const struct stat& info, const std::string& target) {
    void* buffer = CurrentPlatform().allocate(kCopyBufferSize);
    if (!buffer) return false;
    const bool copied =
        ReplaceWithCopy(ExactName(source).c_str(), ExactName(target).c_str(), ".q8r-copy", buffer, kCopyBufferSize);
    std::free(buffer);
    if (!copied) return false;
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return true;
}

bool CopyLinkReplacing(const std::string& source, const std::string& target) {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink(source.c_str(), buffer.data(), buffer.size() - 1);
    if (length < 0) return false;
    buffer[static_cast<size_t>(length)] = '\0';
    const std::string temporary = Join(ParentFolder(target), "." + LastElement(target) + ".q8r-link");
    unlink(temporary.c_str());
    if (symlink(buffer.data(), temporary.c_str()) != 0) return false;
    if (rename(temporary.c_str(), target.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

// Copies `source` into the folder `targetFolder` under its own name. The
// item the request names is copied as what it names when it is a link (a
// "saves" linked to another disk is copied as its saves); links further down
// stay links, so a link back up cannot make the copy endless. `copyRoot` is
// the folder the whole copy makes, never copied into itself.
bool CopyItem(TargetNames& targets, const std::string& source, const std::string& targetFolder, bool followLink,
              const struct stat* copyRoot) {
    struct stat info;
    if (!(followLink ? stat(source.c_str(), &info) == 0 : Inspect(source, &info))) return false;
    const std::string target = TargetFor(targets, targetFolder, LastElement(source));
    struct stat existing;
    const bool exists = InspectTarget(target, &existing);
    if (exists && SameItem(info, existing)) return false;

    if (IsFolder(info)) {
        if (exists && !IsFolder(existing)) return false;
        if (!exists && mkdir(target.c_str(), 0777) != 0) return false;
        struct stat created;
        if (!InspectTarget(target, &created)) return false;
        if (!copyRoot) copyRoot = &created;
        std::vector<std::string> names;
        if (!ListFolder(source, &names)) return false;
        bool copied = true;
        for (const std::string& name : names) {
            const std::string child = Join(source, name);
            struct stat childInfo;
            if (Inspect(child, &childInfo) && SameItem(childInfo, *copyRoot)) continue;
            copied = CopyItem(targets, child, target, false, copyRoot) && copied;
        }
        return copied;
    }
    if (exists && IsFolder(existing)) return false;
    if (S_ISLNK(info.st_mode)) return CopyLinkReplacing(source, target);
    if (!S_ISREG(info.st_mode)) return false;
    return CopyFileReplacing(source, info, target);
}

// Moves `source` into the folder `targetFolder` under its own name.
bool MoveItem(TargetNames& targets, const std::string& source, const std::string& targetFolder) {
    struct stat info;
    if (!Inspect(source, &info)) return false;
    const std::string target = TargetFor(targets, targetFolder, LastElement(source));
    struct stat existing;
    const bool exists = InspectTarget(target, &existing);
    if (exists && SameItem(info, existing)) return true;

    if (exists && IsFolder(info) != IsFolder(existing)) return false;
    if (exists && IsFolder(info)) {
        std::vector<std::string> names;
        if (!ListFolder(source, &names)) return false;
        bool moved = true;
        for (const std::string& name : names) moved = MoveItem(targets, Join(source, name), target) && moved;
        return moved && rmdir(source.c_str()) == 0;
    }
    if (rename(source.c_str(), target.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    // Another file system: the copy is flushed before the source goes.
    return CopyItem(targets, source, targetFolder, false, nullptr) && RemoveItem(source);
}

int PosixMove(const char* from, const char* to) {
    std::string target;
    std::vector<std::string> items;
    if (!ExistingFolder(to, &target) || !ExpandSource(from, &items)) return kFailed;
    TargetNames targets;
    bool moved = true;
    for (const std::string& item : items) moved = MoveItem(targets, item, target) && moved;
    return moved ? 0 : kFailed;
}

int PosixCopy(const char* from, const char* to) {
    std::string target;
    std::vector<std::string> items;
    if (!ExistingFolder(to, &target) || !ExpandSource(from, &items)) return kFailed;
    TargetNames targets;
    bool copied = true;
    for (const std::string& item : items) copied = CopyItem(targets, item, target, true, nullptr) && copied;
    return copied ? 0 : kFailed;
}

int PosixDelete(const char* path) {
    std::vector<std::string> items;
    if (!ExpandSource(path, &items)) return kFailed;
    bool removed = true;
    for (const std::string& item : items) removed = RemoveItem(item) && removed;
    return removed ? 0 : kFailed;
}

}  // namespace

const FileOperations kNativeFileOperations = {PosixMove, PosixCopy, PosixDelete};
