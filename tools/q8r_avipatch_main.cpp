#include <cstdio>
#include <cstdlib>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "avi_patch_maker.h"
#include "platform.h"

int main(int argc, char** argv) {
    SetPlatform({kNativeFileAccess, {}, {}, {}, std::malloc});
    const std::vector<std::string> args(argv + 1, argv + argc);
    return RunAviPatchTool(args, std::cout, std::cerr, isatty(fileno(stderr)) != 0);
}
