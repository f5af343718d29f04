// Windows keeps what a program with no manifest (thief2.exe) writes under
// Program Files in the player's own VirtualStore folder instead, and shows
// it that program in place of the originals. An elevated patcher is not
// redirected: it would see only the originals and migrate stale copies,
// silently. So it looks first, and stops before it changes anything.
#pragma once

#include <string>
#include <vector>

extern const char* const kVirtualStoreCaption;

// The twin of the whole name `gameRoot` in `localAppData`'s VirtualStore,
// when the root lies inside one of `programFolders` on a drive (letter case
// not told apart); empty otherwise.
std::string VirtualStoreTwin(const std::string& gameRoot, const std::string& localAppData,
                             const std::vector<std::string>& programFolders);

// Whether the twin holds any of the items the migration copies out of the
// game folder, told by `exists`.
bool TwinHoldsMigratedItems(const std::string& twin, bool (*exists)(const char* path));

// The box that tells the player what to do, naming the twin.
std::string VirtualStoreMessage(const std::string& twin);
