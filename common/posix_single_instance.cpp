// The guard is an flock on a file named after it in the user's runtime
// folder; the kernel drops the lock when the holder ends, however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "single_instance.h"

namespace {

std::string GuardFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return runtime;
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) return tmp;
    return "/tmp";
}

}  // namespace

bool AnotherInstanceHolds(const char* name) {
    const std::string path = GuardFolder() + "/" + name + "-" + std::to_string(getuid()) + ".lock";
    // Never closed: the lock must last as long as the process.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return false;
    const bool taken = errno == EWOULDBLOCK;
    close(fd);
    return taken;
}
