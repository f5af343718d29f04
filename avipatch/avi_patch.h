// The patch engine: one original video and its patch data file in, the
// corrected video under the original's name out.
#pragma once

#include <cstdint>

#include "avi_patch_format.h"

// Result codes; the engine returns 0 to 9, and 10 names the message for
// every other code.
enum PatchResult : int32_t {
    PatchSuccessful = 0,
    CantOpenDataFile = 1,
    CantOpenOriginal = 2,
    UnexpectedEnd = 3,
    IncorrectDataFile = 4,
    CorruptDataFile = 5,
    InsufficientMemory = 6,
    IncorrectOriginal = 7,
    CantCreateNewFile = 8,
    CorruptOriginal = 9,
    UnknownError = 10,
};

// Called after each segment has been written with the number of table words
// consumed so far less 2, and the table's word count.
typedef void (*PatchProgress)(uint32_t done, uint32_t total);

PatchResult ApplyAviPatch(const char* aviPath, const char* patchPath, PatchProgress progress);

// The fixed English text for a result code.
const char* PatchResultMessage(int32_t code);
