#include <cstdlib>
#include <iostream>

#include "avi_patch_maker.h"
#include "platform.h"

int main(int argc, char** argv) {
    SetPlatform({kNativeFileAccess, {}, {}, {}, std::malloc});
    const std::vector<std::string> args(argv + 1, argv + argc);
    return RunAviPatchTool(args, std::cout, std::cerr);
}
