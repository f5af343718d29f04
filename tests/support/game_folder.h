// A game folder in the mod's v1.0 layout, small but complete.
#pragma once

#include <string>
#include <vector>

#include "support/scratch_folder.h"

// The game root's nine configuration items and the 23 voice folders, written
// out here rather than taken from the patcher, so a slip in its tables shows.
extern const std::vector<std::string> kGameConfigItems;
extern const std::vector<std::string> kGameVoiceFolders;

// The game root's nine configuration items (saves/ with two saved games),
// q8r.exe, and the mod folder with English books (files and a folder),
// strings and all 23 voice folders (files only, as most english folders are).
void LayOutV10Game(const ScratchFolder& game);

// The tree LayOutV10Game makes once the migration steps have run.
std::vector<std::string> V11TreeOfLaidOutGame();
