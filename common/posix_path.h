// How a path written the Windows way ("C:"-less, backslashes, any letter
// case) names a file on a POSIX file system.
#pragma once

#include <string>

// Backslashes become '/', and every element that does not exist as written
// is looked up in its folder without regard to ASCII letter case (a game
// folder copied from Windows holds "Q8R", "English", "DARKINST.CFG" ...).
// From the first element that matches nothing on, the rest is kept as
// written, so the path of a file about to be made resolves too. Empty
// elements and a trailing separator are dropped.
// A name marked by ExactName is taken byte for byte.
std::string ResolvePath(const char* path);

// Marks a name this layer has already resolved (a followed link, a name read
// from a folder) with Windows' own "take it as it is" prefix, so that when
// it comes back through the file layer a backslash in it stays part of a
// name and no element is looked up again.
std::string ExactName(const std::string& resolved);

// The entry of `folder` whose name equals `name` but for ASCII letter case:
// `name` itself when it is listed (a file system that folds letter case
// finds any spelling, but lists the one it keeps), else the smallest such
// name, so the choice is repeatable. False when there is none.
bool FindNameIgnoringCase(const std::string& folder, const std::string& name, std::string* found);

// `name` with its ASCII capitals made small: names that differ only in
// letter case have the same folded name.
std::string FoldedName(std::string name);

// ASCII-only letter-case-blind comparison, as the game's file system does it.
bool SameNameIgnoringCase(const char* a, const char* b);
