// File access on POSIX: every path goes through ResolvePath, so the
// Windows-style names of the game's files find them in any letter case.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform.h"
#include "posix_file_access.h"
#include "posix_file_io.h"
#include "posix_path.h"

struct FileHandle {
    int fd;
};

namespace {

// A name whose folder lies outside the working directory through a link,
// when writes are confined to it.
template <bool confined>
bool Outside(const std::string& resolved) {
    return confined && LeavesWorkingDirectoryThroughLink(resolved, false);
}

template <bool confined>
FileHandle* PosixOpen(const char* path, FileOpenMode mode) {
    const std::string resolved = ResolvePath(path);
    int flags = O_CLOEXEC;
    switch (mode) {
        case kOpenForReading: flags |= O_RDONLY; break;
        case kCreateForWriting: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case kCreateNewForWriting: flags |= O_RDWR | O_CREAT | O_EXCL; break;
        case kOpenExistingForWriting: flags |= O_RDWR; break;
    }
    if (mode != kOpenForReading && Outside<confined>(resolved)) return nullptr;
    // A file about to be emptied or made must not be another file's link.
    if (confined && (mode == kCreateForWriting || mode == kCreateNewForWriting)) flags |= O_NOFOLLOW;
    const int fd = open(resolved.c_str(), flags, 0666);
    if (fd < 0) return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
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

template <bool confined>
bool PosixRename(const char* from, const char* to) {
    const std::string source = ResolvePath(from);
    const std::string target = ResolvePath(to);
    if (Outside<confined>(source) || Outside<confined>(target)) return false;
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: link refuses an existing name too.
    if (link(source.c_str(), target.c_str()) != 0) return false;
    return unlink(source.c_str()) == 0;
}

template <bool confined>
bool PosixReplace(const char* from, const char* to) {
    const std::string source = ResolvePath(from);
    const std::string target = ResolvePath(to);
    if (Outside<confined>(source) || Outside<confined>(target)) return false;
    if (rename(source.c_str(), target.c_str()) != 0) return false;
    return SyncFolder(ParentFolder(target));
}

template <bool confined>
bool PosixRemove(const char* path) {
    const std::string resolved = ResolvePath(path);
    if (Outside<confined>(resolved)) return false;
    return unlink(resolved.c_str()) == 0;
}

bool PosixExists(const char* path) {
    struct stat info;
    return lstat(ResolvePath(path).c_str(), &info) == 0;
}

template <bool confined>
bool PosixLink(const char* existing, const char* to) {
    const std::string source = ResolvePath(existing);
    const std::string target = ResolvePath(to);
    if (Outside<confined>(source) || Outside<confined>(target)) return false;
    return link(source.c_str(), target.c_str()) == 0;
}

}  // namespace

const FileAccess kNativeFileAccess = {
    PosixOpen<false>, PosixRead, PosixWrite, PosixSeek, PosixSize, PosixFlush,
    PosixClose, PosixRename<false>, PosixReplace<false>, PosixRemove<false>, PosixExists,
    PosixLink<false>,
};

const FileAccess kConfinedFileAccess = {
    PosixOpen<true>, PosixRead, PosixWrite, PosixSeek, PosixSize, PosixFlush,
    PosixClose, PosixRename<true>, PosixReplace<true>, PosixRemove<true>, PosixExists,
    PosixLink<true>,
};
