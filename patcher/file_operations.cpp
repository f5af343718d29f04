#include "file_operations.h"

#include <cstring>

#include "path_format.h"

namespace {

const FileOperations* activeOperations = nullptr;

// A path the shell's one-path list cannot hold is refused whole rather than
// handed on in part.
bool Fits(const char* path) {
    return path != nullptr && path[0] != '\0' && std::strlen(path) <= kMaxPathLength;
}

const int kRefused = 1;

}  // namespace

const FileOperations& CurrentFileOperations() {
    return activeOperations ? *activeOperations : PlatformFileOperations();
}

void UseFileOperations(const FileOperations* operations) {
    activeOperations = operations;
}

int MoveFiles(const char* from, const char* to) {
    if (!Fits(from) || !Fits(to)) return kRefused;
    return CurrentFileOperations().move(from, to);
}

int CopyFiles(const char* from, const char* to) {
    if (!Fits(from) || !Fits(to)) return kRefused;
    return CurrentFileOperations().copy(from, to);
}

int DeleteFiles(const char* path) {
    if (!Fits(path)) return kRefused;
    return CurrentFileOperations().remove(path);
}
