// The seams under the patcher's steps, for fuzzing: memory files, file
// operations that act on them, and a user interface that records and never
// ends the process.
#pragma once

#include <string>
#include <vector>

struct FuzzRecord {
    std::vector<std::string> boxes;
    int exitCode = -1;  // set when a step ended the program
};

// Installs the seams for one input; the game root is ".".
class FuzzPlatform {
public:
    FuzzPlatform();
    ~FuzzPlatform();
    FuzzRecord& record();
};

// Thrown by the fake end of the program.
struct FuzzProgramEnded {};
