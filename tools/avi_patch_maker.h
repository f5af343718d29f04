// Making and inspecting patch data files, for the maintainers who ship
// corrected cutscene videos. The patcher itself only applies them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "avi_patch.h"

struct PatchMakeOptions {
    // Written into the header as it stands; the engine uses at least 1 MiB.
    uint32_t bufferSize = kMinimumPatchBuffer;
    // Longest segment to write; 0: as long as the buffer allows.
    uint32_t maxSegment = 0;
    // Length of the blocks of the original that copies are found by.
    uint32_t blockSize = 32;
};

// Builds a patch that turns `original` into `corrected`: copies for every
// run the two share (found wherever it moved to), literal bytes for the
// rest. False with a reason when the pair or the options break the format's
// limits.
bool MakeAviPatch(const uint8_t* original, size_t originalSize, const uint8_t* corrected, size_t correctedSize,
                  const PatchMakeOptions& options, std::vector<uint8_t>* patch, std::string* error);

struct PatchDescription {
    bool headerComplete = false;
    AviPatchHeader header{};
    uint64_t fileSize = 0;
    uint32_t copySegments = 0;
    uint32_t literalSegments = 0;
    uint64_t copyBytes = 0;
    uint64_t literalBytes = 0;
    uint32_t longestSegment = 0;
    bool checkedOriginal = false;
    // Every way the file breaks the format's limits or, when an original was
    // given, does not fit it. Empty: the patch applies cleanly.
    std::vector<std::string> problems;
};

// `original` may be null: then only the file itself is checked.
PatchDescription DescribeAviPatch(const uint8_t* patch, size_t patchSize, const uint8_t* original, size_t originalSize);

// The command line of q8r-avipatch; returns the exit code.
int RunAviPatchTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
