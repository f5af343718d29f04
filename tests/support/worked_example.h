// The worked example of the patch data format, written out by hand so that
// it checks the code rather than repeats it: abcdefgh becomes abcdXYZefgh.
#pragma once

#include <string>

inline const std::string kExamplePatch(
    "Q8R_AviPatchData"
    "\x00\x01\x00\x00"  // bufferSize 256
    "\x08\x00\x00\x00"  // originalSize 8
    "\x08\x00\x00\x00"  // wordCount 8
    "\x2D\x22\x25\x4D"  // tableSum
    "\x04\x00\x00\x00" "abcd" "\x00\x00\x00\x00"  // copy 4 from 0
    "\x03\x00\x00\x80" "XYZ\x00"                  // literal 3
    "\x04\x00\x00\x00" "efgh" "\x04\x00\x00\x00"  // copy 4 from 4
    "XYZ",
    67);
inline const std::string kOriginal = "abcdefgh";
inline const std::string kCorrected = "abcdXYZefgh";
// Where the header's tableSum lies.
constexpr size_t kExampleTableSumAt = 28;
