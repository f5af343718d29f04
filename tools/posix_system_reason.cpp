#include <cerrno>
#include <cstring>

#include "system_reason.h"

void ForgetSystemReason() {
    errno = 0;
}

std::string SystemReason() {
    return errno ? std::strerror(errno) : "no reason given";
}
