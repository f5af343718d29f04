// What the POSIX file layer adds for the patcher, whose working directory is
// the game root.
#pragma once

#include "file_access.h"

// The patcher's file access: nothing is created, written, renamed or removed
// through a path that leaves the working directory through a symbolic link,
// and a file created for writing is never a link's target, so a link planted
// in the game folder cannot carry a change outside it. Reading is not
// affected. The maintainers' tools work on any path with kNativeFileAccess.
extern const FileAccess kConfinedFileAccess;

// For the POSIX layers that already hold resolved names, read from folders
// (where a backslash is part of a name, not a separator): names are taken
// byte for byte.
extern const FileAccess kExactFileAccess;
