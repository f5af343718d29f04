#include <windows.h>

#include "system_reason.h"

void ForgetSystemReason() {
    SetLastError(0);
}

std::string SystemReason() {
    const DWORD error = GetLastError();
    if (error == 0) return "no reason given";
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text, nullptr);
    // The system's text ends with a full stop and a line break.
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) --length;
    return length ? std::string(text, length) : "error " + std::to_string(error);
}
