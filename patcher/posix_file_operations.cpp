// Our own move, copy and delete of whole items on POSIX, with the effects of
// the Windows shell's: names found without regard to letter case, "*" in the
// last element for every item of a folder, folders processed whole, files at
// the target replaced and folders merged. A move within one file system is a
// rename; across file systems it is a durable copy followed by a delete.
// Links are items in their own right: never followed, never deleted through.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <string>
#include <vector>

#include "file_replacement.h"
#include "platform.h"
#include "posix_file_access.h"
#include "posix_file_io.h"
#include "posix_path.h"

namespace {

const int kFailed = 1;

bool Inspect(const std::string& path, struct stat* info) {
    return lstat(path.c_str(), info) == 0;
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

// The entry of `folder` called `name` in any letter case, so that a target
// never ends up holding both "Saves" and "saves". The name was read from a
// folder and is taken as it is: a backslash in it is no separator.
std::string TargetFor(const std::string& folder, const std::string& name) {
    const std::string exact = Join(folder, name);
    struct stat info;
    std::string found;
    if (Inspect(exact, &info) || !FindNameIgnoringCase(folder, name, &found)) return exact;
    return Join(folder, found);
}

// The game root is the working directory. A path below it that passes
// through a link to somewhere outside it would carry a move or copy out of
// the game folder: such a path is refused. A source's own last element is
// an item, never followed, so only a target's last element is walked.
bool LeavesGameRootThroughLink(const std::string& path, bool lastElementFollowed) {
    return LeavesWorkingDirectoryThroughLink(path, lastElementFollowed);
}

// The items a source names: one existing item, or the entries of a folder
// that match a wildcard last element. False when the source does not exist.
bool ExpandSource(const char* source, std::vector<std::string>* items) {
    const std::string written = ResolvePath(source);
    const std::string last = LastElement(written);
    if (LeavesGameRootThroughLink(written, false)) return false;
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
    if (LeavesGameRootThroughLink(*resolved, true)) return false;
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
// in one step (file_replacement.h), so `target` is never half-written; the
// copy keeps the source's modification time, as the shell's does.
bool CopyFileReplacing(const std::string& source, const struct stat& info, const std::string& target) {
    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return false;
    Replacement copy;
    bool copied = BeginReplacement(copy, target.c_str(), ".q8r-copy", kExactFileAccess);
    std::vector<char> buffer(1 << 20);
    off_t total = 0;
    while (copied) {
        const size_t got = ReadFully(in, buffer.data(), buffer.size());
        total += static_cast<off_t>(got);
        copied = got == 0 || WriteReplacement(copy, buffer.data(), got);
        if (got < buffer.size()) break;
    }
    // A short read is the end of the file or an error; only the size tells.
    struct stat read;
    copied = copied && fstat(in, &read) == 0 && total == read.st_size;
    close(in);
    if (!copied) {
        AbandonReplacement(copy);
        return false;
    }
    if (!CommitReplacement(copy)) return false;
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    utimensat(AT_FDCWD, copy.target.c_str(), times, AT_SYMLINK_NOFOLLOW);
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

// Copies `source` into the folder `targetFolder` under its own name.
bool CopyItem(const std::string& source, const std::string& targetFolder) {
    struct stat info;
    if (!Inspect(source, &info)) return false;
    const std::string target = TargetFor(targetFolder, LastElement(source));
    struct stat existing;
    const bool exists = Inspect(target, &existing);
    if (exists && SameItem(info, existing)) return false;

    if (IsFolder(info)) {
        if (exists && !IsFolder(existing)) return false;
        if (!exists && mkdir(target.c_str(), info.st_mode & 07777) != 0) return false;
        // A folder copied into itself would copy its own copy without end.
        struct stat created;
        if (!Inspect(target, &created)) return false;
        std::vector<std::string> names;
        if (!ListFolder(source, &names)) return false;
        bool copied = true;
        for (const std::string& name : names) {
            const std::string child = Join(source, name);
            struct stat childInfo;
            if (Inspect(child, &childInfo) && SameItem(childInfo, created)) continue;
            copied = CopyItem(child, target) && copied;
        }
        return copied;
    }
    if (exists && IsFolder(existing)) return false;
    if (S_ISLNK(info.st_mode)) return CopyLinkReplacing(source, target);
    if (!S_ISREG(info.st_mode)) return false;
    return CopyFileReplacing(source, info, target);
}

// Moves `source` into the folder `targetFolder` under its own name.
bool MoveItem(const std::string& source, const std::string& targetFolder) {
    struct stat info;
    if (!Inspect(source, &info)) return false;
    const std::string target = TargetFor(targetFolder, LastElement(source));
    struct stat existing;
    const bool exists = Inspect(target, &existing);
    if (exists && SameItem(info, existing)) return true;

    if (exists && IsFolder(info) != IsFolder(existing)) return false;
    if (exists && IsFolder(info)) {
        std::vector<std::string> names;
        if (!ListFolder(source, &names)) return false;
        bool moved = true;
        for (const std::string& name : names) moved = MoveItem(Join(source, name), target) && moved;
        return moved && rmdir(source.c_str()) == 0;
    }
    if (rename(source.c_str(), target.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    // Another file system: the copy is flushed before the source goes.
    return CopyItem(source, targetFolder) && RemoveItem(source);
}

int PosixMove(const char* from, const char* to) {
    std::string target;
    std::vector<std::string> items;
    if (!ExistingFolder(to, &target) || !ExpandSource(from, &items)) return kFailed;
    bool moved = true;
    for (const std::string& item : items) moved = MoveItem(item, target) && moved;
    return moved ? 0 : kFailed;
}

int PosixCopy(const char* from, const char* to) {
    std::string target;
    std::vector<std::string> items;
    if (!ExistingFolder(to, &target) || !ExpandSource(from, &items)) return kFailed;
    bool copied = true;
    for (const std::string& item : items) copied = CopyItem(item, target) && copied;
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
