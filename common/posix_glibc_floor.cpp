// The C++ runtime is linked in for players' Linux systems. Its
// std::random_device, which the programs never use but the runtime pulls
// in, calls arc4random, new in glibc 2.36: left to glibc, that one symbol
// would refuse to start the programs on older systems still widely used
// (Ubuntu 22.04 has 2.35). This definition, from the kernel's generator,
// takes its place.
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

extern "C" uint32_t arc4random() noexcept {
    uint32_t value = 0;
    for (;;) {
        const ssize_t got = getrandom(&value, sizeof value, 0);
        if (got == static_cast<ssize_t>(sizeof value)) return value;
        if (got < 0 && errno != EINTR) std::abort();
    }
}
