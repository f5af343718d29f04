// One move of the Windows file operations, for a test on a file system the
// unit tests cannot reach: move_driver FROM TO prints the answer and what
// was left behind, and exits 0 only when the move did all.
#include <cstdio>
#include <cstdlib>

#include "file_operations.h"
#include "left_behind.h"
#include "platform.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    SetPlatform({kNativeFileAccess, kNativeFileOperations, {}, {}, std::malloc});
    const int result = MoveFiles(argv[1], argv[2]);
    std::printf("result %d, %zu left behind\n", result, LeftBehindCount());
    if (LeftBehindCount() > 0) std::printf("%s\n", LeftBehindMessage().c_str());
    return result == 0 && LeftBehindCount() == 0 ? 0 : 1;
}
