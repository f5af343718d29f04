#pragma once

// The status texts of the task sequence, in its order; the eighth step sets
// none of its own.
extern const char* const kStatusRemovingLauncher;
extern const char* const kStatusResettingDarkinst;
extern const char* const kStatusMovingConfig;
extern const char* const kStatusEditingDarkinst;
extern const char* const kStatusMovingBooks;
extern const char* const kStatusMovingStrings;
extern const char* const kStatusMovingSounds;
extern const char* const kStatusFinished;

// Runs the eight migration steps once, in their fixed order, and returns 1:
// the work is done.
int RunTaskSequence();
