// The single-instance guard: a system-wide name that a running program holds
// until it ends, however it ends.
#pragma once

// Takes the guard `name` for the rest of the process. True when another
// process holds it already. When the guard cannot be made at all the caller
// runs unguarded, so that counts as false.
bool AnotherInstanceHolds(const char* name);
