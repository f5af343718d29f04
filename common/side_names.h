// Every name the programs give a file of their own beside a player's file:
// the suffix, who makes it and who clears it. A name made here and not
// cleared would stop a later run (a create-new fails on it) or keep a
// player's content where no one looks; each one has a clearer, and a run
// cut off at any moment leaves nothing the next run does not clear first.
// Both platforms take their suffixes from here.
#pragma once

// The patch engine's new video, written beside the video and renamed over
// it (file_replacement.h); an earlier run's goes at the next begin.
inline constexpr char kNewVideoSuffix[] = ".new";
// The original video kept by the patch engine; the cutscene step removes it
// once the video is corrected, and the engine before it makes another.
inline constexpr char kOldVideoSuffix[] = ".old";
// A configuration rewrite's side file, and the side file of the engine's
// copy of the original; cleared at the next begin.
inline constexpr char kRewriteSuffix[] = ".q8r-tmp";
// A copy made under a side name and renamed over a link at the target (both
// platforms' file operations); cleared by the next copy onto that target.
inline constexpr char kCopySuffix[] = ".q8r-copy";
// Windows: a second copy renamed over an earlier run's `.q8r-copy`.
inline constexpr char kCopyAgainSuffix[] = ".q8r-copy.new";
// Windows: an empty file of ours renamed onto a name that cannot be deleted
// by name (a link), then deleted.
inline constexpr char kRemovalSuffix[] = ".q8r-gone";
// Windows: where ReplaceFileW keeps the replaced file until the new one
// holds the name; removed after, or put back when the replace failed
// half-way (common/win32_file_replace.cpp). Cleared before each replace.
inline constexpr char kReplacedSuffix[] = ".q8r-was";
// Appended to a side name: an earlier run's side file is renamed aside to
// free its name at once, then removed (file_replacement.cpp).
inline constexpr char kStaleSuffix[] = ".stale";
// POSIX: a link made for a copied link, "." + name + this, then renamed
// over the target; unlinked before each make.
inline constexpr char kLinkCopySuffix[] = ".q8r-link";
// The maintainers' tool: a patch data file being written.
inline constexpr char kPartialSuffix[] = ".partial";

struct SideName {
    const char* suffix;
    const char* madeBy;
    const char* clearedBy;
};

// For the tests that look for leftovers after a cut-off run.
inline constexpr SideName kSideNames[] = {
    {kNewVideoSuffix, "the patch engine", "its commit; the next begin"},
    {kOldVideoSuffix, "the patch engine", "the cutscene step; the next patch"},
    {kRewriteSuffix, "the configuration rewrites, the engine's backup copy", "their commit; the next begin"},
    {kCopySuffix, "the file operations' copy onto a link", "its rename; the next copy"},
    {kCopyAgainSuffix, "the Windows copy over a stale side copy", "its rename; the next copy"},
    {kRemovalSuffix, "the Windows remove of a link", "its delete; the next remove"},
    {kReplacedSuffix, "ReplaceFileW's backup", "the replace itself; the next replace"},
    {kStaleSuffix, "the clearing of a stale side file", "that clearing; the next one"},
    {kLinkCopySuffix, "the POSIX copy of a link", "its rename; the next copy"},
    {kPartialSuffix, "the maintainers' tool", "its commit; an interrupt; the next begin"},
};
