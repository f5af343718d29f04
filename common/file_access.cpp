#include "file_access.h"

namespace {
const FileAccess* activeAccess = nullptr;
}

const FileAccess& Files() {
    return activeAccess ? *activeAccess : PlatformFileAccess();
}

void UseFileAccess(const FileAccess* access) {
    activeAccess = access;
}
