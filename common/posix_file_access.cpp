// File access on POSIX: every path goes through ResolvePath, so the
// Windows-style names of the game's files find them in any letter case.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "file_access.h"
#include "posix_file_access.h"
#include "posix_path.h"

struct FileHandle {
    int fd;
};

namespace {

bool writesConfined = false;

// A name whose folder lies outside the working directory through a link.
bool Outside(const std::string& resolved) {
    return writesConfined && LeavesWorkingDirectoryThroughLink(resolved, false);
}

FileHandle* PosixOpen(const char* path, FileOpenMode mode) {
    const std::string resolved = ResolvePath(path);
    int flags = O_CLOEXEC;
    switch (mode) {
        case kOpenForReading: flags |= O_RDONLY; break;
        case kCreateForWriting: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case kCreateNewForWriting: flags |= O_RDWR | O_CREAT | O_EXCL; break;
        case kOpenExistingForWriting: flags |= O_RDWR; break;
    }
    if (mode != kOpenForReading && Outside(resolved)) return nullptr;
    // A file about to be emptied or made must not be another file's link.
    if (writesConfined && (mode == kCreateForWriting || mode == kCreateNewForWriting)) flags |= O_NOFOLLOW;
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
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(file->fd, static_cast<char*>(buffer) + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

bool PosixWrite(FileHandle* file, const void* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t put = write(file->fd, static_cast<const char*>(data) + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
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

// A rename is durable only once the folder that holds the names is synced.
bool SyncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

bool PosixRename(const char* from, const char* to) {
    const std::string source = ResolvePath(from);
    const std::string target = ResolvePath(to);
    if (Outside(source) || Outside(target)) return false;
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: link refuses an existing name too.
    if (link(source.c_str(), target.c_str()) != 0) return false;
    return unlink(source.c_str()) == 0;
}

bool PosixReplace(const char* from, const char* to) {
    const std::string source = ResolvePath(from);
    const std::string target = ResolvePath(to);
    if (Outside(source) || Outside(target)) return false;
    if (rename(source.c_str(), target.c_str()) != 0) return false;
    return SyncFolderOf(target);
}

bool PosixRemove(const char* path) {
    const std::string resolved = ResolvePath(path);
    if (Outside(resolved)) return false;
    return unlink(resolved.c_str()) == 0;
}

bool PosixExists(const char* path) {
    struct stat info;
    return lstat(ResolvePath(path).c_str(), &info) == 0;
}

bool PosixLink(const char* existing, const char* to) {
    const std::string source = ResolvePath(existing);
    const std::string target = ResolvePath(to);
    if (Outside(source) || Outside(target)) return false;
    return link(source.c_str(), target.c_str()) == 0;
}

const FileAccess kPosixFileAccess = {
    PosixOpen, PosixRead, PosixWrite, PosixSeek, PosixSize, PosixFlush,
    PosixClose, PosixRename, PosixReplace, PosixRemove, PosixExists,
    PosixLink,
};

}  // namespace

void ConfineWritesToWorkingDirectory(bool confined) {
    writesConfined = confined;
}

const FileAccess& PlatformFileAccess() {
    return kPosixFileAccess;
}
