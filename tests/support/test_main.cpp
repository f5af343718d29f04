// The tests start on this build's real platform; each fake replaces a part
// for the life of a scope.
#include <gmock/gmock.h>

#include <cstdlib>

#include "platform.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    SetPlatform({kNativeFileAccess, kNativeFileOperations, {}, kNativeShellStart, std::malloc});
    return RUN_ALL_TESTS();
}
