#pragma once

// The absolute path of the working directory at start-up, taken once; every
// path of the patcher begins with it. Null until TakeGameRoot succeeded.
extern char* GameRoot;

// Takes the working directory into a new buffer of at least 260 bytes.
bool TakeGameRoot();
void ReleaseGameRoot();
