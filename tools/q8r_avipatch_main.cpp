#include <iostream>

#include "avi_patch_maker.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return RunAviPatchTool(args, std::cout, std::cerr);
}
