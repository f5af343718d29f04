#include "path_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool FormatPath(char (&buffer)[kPathBufferSize], const char* format, ...) {
    std::memset(buffer, 0, sizeof buffer);
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) > kMaxPathLength) {
        std::memset(buffer, 0, sizeof buffer);
        return false;
    }
    return true;
}
