#include "platform.h"

namespace {
Platform current = {};
}

void SetPlatform(const Platform& platform) {
    current = platform;
}

const Platform& CurrentPlatform() {
    return current;
}
