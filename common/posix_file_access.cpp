// File access on POSIX: every path goes through ResolvePath, so the
// Windows-style names of the game's files find them in any letter case.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform.h"
#include "posix_file_io.h"
#include "posix_path.h"

struct FileHandle {
    int fd;
};

namespace {

std::string Name(const char* path) {
    return ResolvePath(path);
}

// Links in the path are followed, as on Windows; only a file about to be
// made or emptied is never reached through a link at its own name, and it is
// emptied only once it is known to be a regular file.
FileHandle* PosixOpen(const char* path, FileOpenMode mode) {
    int flags = 0;
    switch (mode) {
        case kOpenForReading: flags = O_RDONLY; break;
        case kCreateForWriting: flags = O_RDWR | O_CREAT | O_NOFOLLOW; break;
        case kCreateNewForWriting: flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
        case kOpenExistingForWriting: flags = O_RDWR; break;
    }
    const int fd = OpenRegularFile(Name(path).c_str(), flags);
    if (fd < 0) return nullptr;
    // A file with no write bit is read-only as Windows' attribute is, for
    // root too, so a run as root refuses what a run as the player refuses.
    struct stat info;
    if (mode == kOpenExistingForWriting && (fstat(fd, &info) != 0 || (info.st_mode & 0222) == 0)) {
        close(fd);
        return nullptr;
    }
    if (mode == kCreateForWriting && ftruncate(fd, 0) != 0) {
        close(fd);
        return nullptr;
    }
    return new FileHandle{fd};
}

size_t PosixRead(FileHandle* file, void* buffer, size_t size) {
    return ReadFully(file->fd, buffer, size);
}

bool PosixWrite(FileHandle* file, const void* data, size_t size) {
    return WriteFully(file->fd, data, size);
}

bool PosixSeek(FileHandle* file, uint64_t offset) {
    return lseek(file->fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool PosixSize(FileHandle* file, uint64_t* size) {
    struct stat info;
    if (fstat(file->fd, &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool PosixFlush(FileHandle* file) {
    return fsync(file->fd) == 0;
}

bool PosixClose(FileHandle* file) {
    const bool closed = close(file->fd) == 0;
    delete file;
    return closed;
}

bool PosixRename(const char* from, const char* to) {
    const std::string source = Name(from);
    const std::string target = Name(to);
    NoteChangedFolder(ParentFolder(target));
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    // File systems without RENAME_NOREPLACE: link refuses an existing name too.
    if (link(source.c_str(), target.c_str()) == 0) return unlink(source.c_str()) == 0;
    if (errno == EEXIST) return false;
    // Nor hard links (exFAT, FAT, many FUSE and network mounts): a plain
    // rename once the name is seen free, in any letter case the file system folds.
    struct stat info;
    if (lstat(target.c_str(), &info) == 0 || errno != ENOENT) return false;
    return rename(source.c_str(), target.c_str()) == 0;
}

// The replaced name keeps its spelling: a file system that folds letter
// case (exFAT) finds DARKINST.CFG as Darkinst.cfg, and a rename under that
// spelling would give the file the new one. The folder is read only where
// the name is found in another letter case too.
bool PosixReplace(const char* from, const char* to) {
    std::string target = Name(to);
    const size_t start = target.rfind('/') + 1;  // 0 without a folder
    std::string swapped = target;
    for (size_t i = start; i < swapped.size(); ++i) {
        const char c = swapped[i];
        swapped[i] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    struct stat info;
    std::string listed;
    if (swapped != target && lstat(swapped.c_str(), &info) == 0 &&
        FindNameIgnoringCase(ParentFolder(target), target.substr(start), &listed)) {
        target = target.substr(0, start) + listed;
    }
    return rename(Name(from).c_str(), target.c_str()) == 0;
}

bool PosixRemove(const char* path) {
    const std::string resolved = Name(path);
    NoteChangedFolder(ParentFolder(resolved));
    return unlink(resolved.c_str()) == 0;
}

bool PosixExists(const char* path) {
    struct stat info;
    return lstat(Name(path).c_str(), &info) == 0;
}

bool PosixLink(const char* existing, const char* to) {
    const std::string source = Name(existing);
    const std::string target = Name(to);
    NoteChangedFolder(ParentFolder(target));
    return link(source.c_str(), target.c_str()) == 0;
}

bool PosixSyncFolderOf(const char* path) {
    return SyncFolder(ParentFolder(Name(path)));
}

// Folders linked to other disks took moves and copies too.
bool PosixSyncFileSystem(const char* path) {
    return SyncChangedFileSystems(Name(path));
}

void PosixStartWriteBack(FileHandle* file, uint64_t offset, uint64_t length) {
    sync_file_range(file->fd, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

std::string PosixFollowLinks(const char* path) {
    const std::string resolved = Name(path);
    struct stat info;
    if (lstat(resolved.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* real = realpath(resolved.c_str(), nullptr);
    if (!real) return path;
    const std::string followed = ExactName(real);
    std::free(real);
    return followed;
}

// Owner first: a change of owner clears the set-ID bits the mode then gives
// back. Only root may give another owner; what was not carried takes rights
// away, never hands them on: set-ID bits stay only with both owner and group
// (a set-user-ID program must not run as whoever made the copy), and a group
// that is not the model's gets no more than everyone else had. A file system
// without modes or owners answers EPERM or ignores them, and the content is
// what matters.
void PosixKeepModeOf(FileHandle* file, const char* model, bool withOwner) {
    struct stat info;
    if (stat(Name(model).c_str(), &info) != 0) return;
    if (withOwner && fchown(file->fd, info.st_uid, info.st_gid) != 0) {
        // Kept as far as the system lets: the group alone may still be ours to give.
        (void)!fchown(file->fd, static_cast<uid_t>(-1), info.st_gid);
    }
    mode_t mode = info.st_mode & 07777;
    struct stat made;
    const bool known = fstat(file->fd, &made) == 0;
    const bool groupKept = known && made.st_gid == info.st_gid;
    if (!groupKept || made.st_uid != info.st_uid) mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    if (!groupKept) mode = (mode & ~static_cast<mode_t>(070)) | ((mode & 07) << 3);
    (void)!fchmod(file->fd, mode);
}

bool PosixSameFile(const char* a, const char* b) {
    struct stat first, second;
    return stat(Name(a).c_str(), &first) == 0 && stat(Name(b).c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

constinit const FileAccess kNativeFileAccess = {
    PosixOpen, PosixRead, PosixWrite, PosixSeek, PosixSize, PosixFlush, PosixClose, PosixRename, PosixReplace,
    PosixRemove, PosixExists, PosixLink, PosixSyncFolderOf, PosixSyncFileSystem, PosixStartWriteBack,
    PosixFollowLinks, PosixSameFile, PosixKeepModeOf,
};
