#include "file_operations.h"

#include <cstring>

#include "path_format.h"
#include "platform.h"

namespace {

// A path the shell's one-path list cannot hold is refused whole rather than
// handed on in part.
bool Fits(const char* path) {
    return path != nullptr && path[0] != '\0' && std::strlen(path) <= kMaxPathLength;
}

const int kRefused = 1;

}  // namespace

int MoveFiles(const char* from, const char* to) {
    if (!Fits(from) || !Fits(to)) return kRefused;
    return CurrentPlatform().operations.move(from, to);
}

int CopyFiles(const char* from, const char* to) {
    if (!Fits(from) || !Fits(to)) return kRefused;
    return CurrentPlatform().operations.copy(from, to);
}

int DeleteFiles(const char* path) {
    if (!Fits(path)) return kRefused;
    return CurrentPlatform().operations.remove(path);
}
