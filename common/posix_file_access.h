// What the POSIX file layer adds to the native one.
#pragma once

#include "file_access.h"

// For the POSIX layers that already hold resolved names, read from folders
// (where a backslash is part of a name, not a separator): names are taken
// byte for byte.
extern const FileAccess kExactFileAccess;
