// Paths of the patcher: a format filled into a zero-filled 260-byte buffer,
// which is also the shell's one-path list ending in two zero bytes.
#pragma once

#include <cstddef>

constexpr size_t kPathBufferSize = 260;
// Room left for the path's own zero and the list's closing zero.
constexpr size_t kMaxPathLength = kPathBufferSize - 2;

// Zero-fills `buffer` and formats into it. A path cut short names something
// else ("...\q8r.exe" becomes "...\q8r", the whole mod folder), so a result
// longer than kMaxPathLength is never kept: the buffer stays empty and the
// call returns false, and the caller skips the operation.
bool FormatPath(char (&buffer)[kPathBufferSize], const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
