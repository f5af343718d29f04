#include <windows.h>

#include "single_instance.h"

bool AnotherInstanceHolds(const char* name) {
    // The handle is kept until the process ends: the name lives as long as it.
    HANDLE guard = CreateMutexA(nullptr, FALSE, name);
    return guard != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}
