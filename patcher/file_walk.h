// The rules of the silent move, copy and delete of whole items, decided once
// for every platform: a file never replaces a folder or the reverse, folders
// merge, a link that is itself an item is moved or removed as the link and
// copied as what it names, a link the player put at a target is followed
// when it names a folder and replaced when it does not (or names the item
// itself), nothing a link names is removed, and a folder is never copied
// into itself. What each platform
// does to one item goes through ItemAccess; paths are the platform's own
// whole names in UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What stands at a name.
struct WalkItem {
    std::string path;
    bool exists = false;
    bool link = false;    // a symbolic link or junction, as itself
    bool folder = false;  // a folder, or a link to one
};

// The volume and the index of an item, links followed. The index is 128
// bits wide, as Windows' file id is (the 64-bit one repeats on ReFS); an
// index of 0 is unknown (a network share may answer so), never the same
// item as another.
struct ItemIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    uint64_t indexHigh = 0;
};

enum class Renamed { kDone, kOtherVolume, kFailed };

struct ItemAccess {
    char separator;
    // The entries of `folder` whose names match `pattern`, a last element
    // that may hold wildcards. False when the folder cannot be listed.
    bool (*list)(const std::string& folder, const std::string& pattern, std::vector<WalkItem>* items);
    WalkItem (*inspect)(const std::string& path);
    bool (*identify)(const std::string& path, ItemIdentity* identity);
    // The name an item called `name` takes in `folder`: where the file
    // system tells letter cases apart, an entry that differs only in case.
    std::string (*targetFor)(void* names, const std::string& folder, const std::string& name);
    // Moves the item as itself onto `target`'s name, replacing a file or a
    // link there; kOtherVolume when that takes a copy the walk must make.
    Renamed (*rename)(const WalkItem& item, const WalkItem& target);
    // Puts a copy of what `item` names at `target`'s name; a link there is
    // replaced, never written through.
    bool (*copyFile)(const WalkItem& item, const WalkItem& target);
    // Makes a link at `target`'s name that names what the link `item` names.
    bool (*copyLink)(const WalkItem& item, const WalkItem& target);
    // Removes a file, a link as itself, or an empty folder.
    bool (*remove)(const WalkItem& item);
    bool (*makeFolder)(const std::string& path);
    // Whether a link inside a copied folder is copied as a link rather than
    // as what it names.
    bool copiesInnerLinks;
    void* names;  // handed to targetFor
    // The system's reason for the call that failed last, for the player;
    // may be null or give an empty text.
    std::string (*describeFailure)();
};

// The items `source` names: one existing item, or the entries of a folder
// that a wildcard last element matches. False when the item or the folder
// does not exist.
bool ListSource(const ItemAccess& access, const std::string& source, std::vector<WalkItem>* items);

// Each takes the listed items still there into `folder` (or away), and is
// true when none of them is left where it was. What stays, or fails to be
// copied, is noted for the end of the run (left_behind.h).
bool MoveListed(const ItemAccess& access, const std::vector<WalkItem>& items, const std::string& folder);
bool DeleteListed(const ItemAccess& access, const std::vector<WalkItem>& items);

// True when every item was copied whole.
bool CopyListed(const ItemAccess& access, const std::vector<WalkItem>& items, const std::string& folder);

std::string JoinPath(const ItemAccess& access, const std::string& folder, const std::string& name);
std::string NameOf(const ItemAccess& access, const std::string& path);
// Whether the last element `name` is a pattern (`*`, `?`) for a listing.
bool HasWildcard(const std::string& name);
