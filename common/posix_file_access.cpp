// File access on POSIX: every path goes through ResolvePath, so the
// Windows-style names of the game's files find them in any letter case.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform.h"
#include "posix_file_io.h"
#include "posix_path.h"

struct FileHandle {
    int fd;
};

namespace {

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
    const int fd = OpenRegularFile(ResolvePath(path).c_str(), flags);
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

bool PosixRename(const char* from, const char* to) {
    const std::string source = ResolvePath(from);
    const std::string target = ResolvePath(to);
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: link refuses an existing name too.
    if (link(source.c_str(), target.c_str()) != 0) return false;
    return unlink(source.c_str()) == 0;
}

bool PosixReplace(const char* from, const char* to) {
    const std::string source = ResolvePath(from);
    const std::string target = ResolvePath(to);
    if (rename(source.c_str(), target.c_str()) != 0) return false;
    return SyncFolder(ParentFolder(target));
}

bool PosixRemove(const char* path) {
    const std::string resolved = ResolvePath(path);
    return unlink(resolved.c_str()) == 0;
}

bool PosixExists(const char* path) {
    struct stat info;
    return lstat(ResolvePath(path).c_str(), &info) == 0;
}

bool PosixLink(const char* existing, const char* to) {
    const std::string source = ResolvePath(existing);
    const std::string target = ResolvePath(to);
    return link(source.c_str(), target.c_str()) == 0;
}

}  // namespace

const FileAccess kNativeFileAccess = {
    PosixOpen, PosixRead, PosixWrite, PosixSeek, PosixSize, PosixFlush,
    PosixClose, PosixRename, PosixReplace, PosixRemove, PosixExists, PosixLink,
};
