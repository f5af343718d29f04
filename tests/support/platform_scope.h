// Puts another platform in place for the life of the object and the one it
// replaced back afterwards, so fakes nest.
#pragma once

#include "platform.h"

class PlatformScope {
public:
    explicit PlatformScope(const Platform& replacement) : previous_(CurrentPlatform()) { SetPlatform(replacement); }
    ~PlatformScope() { SetPlatform(previous_); }
    PlatformScope(const PlatformScope&) = delete;
    PlatformScope& operator=(const PlatformScope&) = delete;

    // The platform that was in place before.
    const Platform& Previous() const { return previous_; }

private:
    Platform previous_;
};

// The platform in use with one part changed.
inline Platform WithFiles(const FileAccess& files) {
    Platform platform = CurrentPlatform();
    platform.files = files;
    return platform;
}

inline Platform WithAllocator(void* (*allocate)(size_t)) {
    Platform platform = CurrentPlatform();
    platform.allocate = allocate;
    return platform;
}
