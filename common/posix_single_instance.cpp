// The guard must be seen by every other copy of the program on the machine,
// whatever its environment, terminal session or user, and must free itself
// when its holder ends, however it ends. On Linux that is a socket bound to
// the guard's name in the abstract namespace, which has no file behind it and
// goes with the last descriptor; elsewhere an flock on a file of that name in
// /tmp, which every user shares.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "posix_file_io.h"
#include "single_instance.h"

#ifdef __linux__

bool AnotherInstanceHolds(const char* name) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::min(std::strlen(name), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name, length);  // sun_path[0] == 0: abstract
    // Never closed: the name must stay bound as long as the process lives.
    // Not passed on to the game the launcher starts.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) return false;
    const bool taken = errno == EADDRINUSE;
    close(fd);
    return taken;
}

#else

bool AnotherInstanceHolds(const char* name) {
    const std::string path = std::string("/tmp/") + name + ".lock";
    // A FIFO or a link planted under the name is not opened. Whoever makes
    // the file makes it readable for all, whatever the umask.
    const int fd = OpenRegularFile(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    fchmod(fd, 0644);
    // Never closed: the lock must last as long as the process.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return false;
    const bool taken = errno == EWOULDBLOCK;
    close(fd);
    return taken;
}

#endif
