#pragma once

// The absolute path of the working directory at start-up, taken once; every
// path of the patcher begins with it. Null until TakeGameRoot succeeded.
extern char* GameRoot;

// Takes the working directory into a new buffer of at least 260 bytes.
bool TakeGameRoot();
void ReleaseGameRoot();

// Makes every change of the run in the game folder durable, so that a power
// cut after the run cannot bring back what it moved, renamed or removed.
void SyncGameFolder();
