#include "posix_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <map>

namespace {

// A mount seen answering EIO for about 3 s after one bad request is waited
// for twice that long before the failure counts.
const long kFirstPauseMs = 25;
const long kLongestPauseMs = 800;
const long kGiveUpAfterMs = 6000;

// A mount that kept failing once is not waited for again until a call
// passes: a dead share must not cost the whole wait for every item.
bool waitedInVain = false;

// Device to a folder on it.
std::map<dev_t, std::string> changedFileSystems;

bool SyncFileSystemOf(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const bool synced = fd >= 0 && syncfs(fd) == 0;
    if (fd >= 0) close(fd);
    return synced;
}

void Pause(long milliseconds) {
    struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

}  // namespace

int OpenRegularFile(const char* path, int flags, mode_t mode) {
    const int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat info;
    const int status = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || status < 0 ||
        fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

size_t ReadFully(int fd, void* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, static_cast<char*>(buffer) + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

bool WriteFully(int fd, const void* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t put = write(fd, static_cast<const char*>(data) + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncFolder(const std::string& folder) {
    NoteChangedFolder(folder);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

bool IsTransientError(int error) {
    return error == EIO || error == ETIMEDOUT || error == EAGAIN || error == ESTALE;
}

bool RetryWhileTransient(const std::function<bool()>& call) {
    long pause = kFirstPauseMs;
    for (long paused = 0;; paused += pause, pause = pause * 2 > kLongestPauseMs ? kLongestPauseMs : pause * 2) {
        errno = 0;
        if (call()) {
            waitedInVain = false;
            return true;
        }
        const int error = errno;
        if (!IsTransientError(error) || waitedInVain) return false;
        if (paused >= kGiveUpAfterMs) {
            waitedInVain = true;
            return false;
        }
        Pause(pause);
    }
}

void NoteChangedFolder(const std::string& folder) {
    struct stat info;
    if (stat(folder.c_str(), &info) == 0) changedFileSystems.try_emplace(info.st_dev, folder);
}

bool SyncChangedFileSystems(const std::string& path) {
    bool synced = SyncFileSystemOf(path);
    struct stat info;
    const bool known = stat(path.c_str(), &info) == 0;
    for (const auto& [device, folder] : changedFileSystems) {
        // A folder moved away since is still on its file system, by its new name or not at all.
        if (!known || device != info.st_dev) synced = SyncFileSystemOf(folder) && synced;
    }
    return synced;
}
