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
#include "posix_file_access.h"
#include "posix_file_io.h"
#include "posix_path.h"

struct FileHandle {
    int fd;
};

namespace {

// How a table takes the names it is given.
enum PosixNames {
    kGameNames,   // written the Windows way, found in any letter case
    kExactNames,  // already resolved: taken byte for byte
};

template <PosixNames names>
std::string Name(const char* path) {
    return names == kExactNames ? std::string(path) : ResolvePath(path);
}

// Links in the path are followed, as on Windows; only a file about to be
// made or emptied is never reached through a link at its own name, and it is
// emptied only once it is known to be a regular file.
template <PosixNames names>
FileHandle* PosixOpen(const char* path, FileOpenMode mode) {
    int flags = 0;
    switch (mode) {
        case kOpenForReading: flags = O_RDONLY; break;
        case kCreateForWriting: flags = O_RDWR | O_CREAT | O_NOFOLLOW; break;
        case kCreateNewForWriting: flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
        case kOpenExistingForWriting: flags = O_RDWR; break;
    }
    const int fd = OpenRegularFile(Name<names>(path).c_str(), flags);
    if (fd < 0) return nullptr;
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

template <PosixNames names>
bool PosixRename(const char* from, const char* to) {
    const std::string source = Name<names>(from);
    const std::string target = Name<names>(to);
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: link refuses an existing name too.
    if (link(source.c_str(), target.c_str()) != 0) return false;
    return unlink(source.c_str()) == 0;
}

template <PosixNames names>
bool PosixReplace(const char* from, const char* to) {
    const std::string source = Name<names>(from);
    const std::string target = Name<names>(to);
    // The new file takes on what made the old one the player's; an owner
    // only root may give is kept where permitted.
    struct stat old;
    if (stat(target.c_str(), &old) == 0) {
        if (chmod(source.c_str(), old.st_mode & 07777) != 0) return false;
        if (chown(source.c_str(), old.st_uid, old.st_gid) != 0 && errno != EPERM) return false;
    }
    return rename(source.c_str(), target.c_str()) == 0;
}

template <PosixNames names>
bool PosixRemove(const char* path) {
    const std::string resolved = Name<names>(path);
    return unlink(resolved.c_str()) == 0;
}

template <PosixNames names>
bool PosixExists(const char* path) {
    struct stat info;
    return lstat(Name<names>(path).c_str(), &info) == 0;
}

template <PosixNames names>
bool PosixLink(const char* existing, const char* to) {
    const std::string source = Name<names>(existing);
    const std::string target = Name<names>(to);
    return link(source.c_str(), target.c_str()) == 0;
}

template <PosixNames names>
bool PosixSyncFolderOf(const char* path) {
    return SyncFolder(ParentFolder(Name<names>(path)));
}

template <PosixNames names>
bool PosixSyncFileSystem(const char* path) {
    const int fd = open(Name<names>(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const bool synced = syncfs(fd) == 0;
    close(fd);
    return synced;
}

void PosixStartWriteBack(FileHandle* file, uint64_t offset, uint64_t length) {
    sync_file_range(file->fd, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

template <PosixNames names>
std::string PosixFollowLinks(const char* path) {
    const std::string resolved = Name<names>(path);
    struct stat info;
    if (lstat(resolved.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* real = realpath(resolved.c_str(), nullptr);
    if (!real) return path;
    const std::string followed = real;
    std::free(real);
    return followed;
}

template <PosixNames names>
bool PosixSameFile(const char* a, const char* b) {
    struct stat first, second;
    return stat(Name<names>(a).c_str(), &first) == 0 && stat(Name<names>(b).c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

template <PosixNames names>
constexpr FileAccess PosixFileAccess() {
    return {
        PosixOpen<names>, PosixRead, PosixWrite, PosixSeek, PosixSize, PosixFlush,
        PosixClose, PosixRename<names>, PosixReplace<names>, PosixRemove<names>, PosixExists<names>,
        PosixLink<names>, PosixSyncFolderOf<names>, PosixSyncFileSystem<names>, PosixStartWriteBack,
        PosixFollowLinks<names>, PosixSameFile<names>,
    };
}

constinit const FileAccess kNativeFileAccess = PosixFileAccess<kGameNames>();
constinit const FileAccess kExactFileAccess = PosixFileAccess<kExactNames>();
