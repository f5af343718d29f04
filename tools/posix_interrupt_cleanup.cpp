#include <csignal>
#include <cstring>

#include <unistd.h>

#include "interrupt_cleanup.h"

namespace {

// Read by the handler, so fixed in size and written only while disarmed.
char pending[4096];
volatile sig_atomic_t armed = 0;

// unlink and raise are safe in a handler; the default action then ends the
// program with the signal's own status, as the shell expects.
void RemoveAndStop(int signal) {
    if (armed) unlink(pending);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

}  // namespace

void RemoveOnInterrupt(const std::string& side) {
    armed = 0;
    if (side.size() >= sizeof pending) return;
    std::memcpy(pending, side.c_str(), side.size() + 1);
    static bool installed = false;
    if (!installed) {
        struct sigaction action = {};
        action.sa_handler = RemoveAndStop;
        sigemptyset(&action.sa_mask);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
        installed = true;
    }
    armed = 1;
}

void KeepOnInterrupt() {
    armed = 0;
}
