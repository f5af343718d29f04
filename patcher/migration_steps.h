// The steps that turn the mod's v1.0 folder layout into v1.1: the old
// launcher goes, the game's configuration is copied into the mod folder, and
// the English books, strings and voice sets move one folder level up.
#pragma once

#include <cstddef>

extern const char* const kConfigItems[9];
extern const char* const kVoiceFolders[23];

void RemoveOldLauncher();
void CopyConfigFiles();
void MoveBookFiles();
void MoveStringFiles();
void MoveSoundFiles();
