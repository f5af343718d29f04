// New content for a file, put in its place in one step, in the manner of a
// lock file: begin, write, then commit or abandon. The content goes to a side
// file beside the target, made afresh and never through a link; the commit
// flushes it and only then lets it take the target's name. Whatever fails,
// the target's name holds either its old file or the complete new one, and
// the result says which.
//
// Every writer of a file the player owns goes through here: the
// configuration rewrites, the patch engine's new video and backup copy, the
// POSIX copy, and the maintainers' tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "file_access.h"

struct Replacement {
    const FileAccess* files = nullptr;
    std::string target;  // the file whose place the content takes
    std::string side;    // where the content is written until the commit
    FileHandle* file = nullptr;
    uint64_t written = 0;
    uint64_t handedToDisk = 0;  // bytes whose write-back was started
    bool onDisk = false;        // flushed and closed
    bool made = false;          // the side file is this replacement's own
    bool inPlace = false;       // the target itself is written (no side file)
};

// Removes a side file left by an earlier run (anything but a folder, by its
// name) and makes it afresh: false when it cannot be made (a folder of that
// name, a read-only folder, ...). A target that is a symbolic link is
// replaced at the file the link names, so the side file lies beside that
// file and the link stays. The new file gets the target's mode and owner.
bool BeginReplacement(Replacement& replacement, const char* target, const char* suffix);

// As BeginReplacement, for a copy of `source`: the target's name is replaced
// as it stands, a link there included (the file it names is never written),
// and the new file gets the source's owner where the system lets (as root),
// then its permission bits, as `cp -p` carries them.
bool BeginCopyReplacement(Replacement& replacement, const char* source, const char* target, const char* suffix);

// For a linked target whose real folder takes no side file: the file the
// link names is rewritten where it lies, as a plain program would, and the
// commit only flushes it; a failed write leaves it as far as it got. False
// when `target` is no link or cannot be opened.
bool BeginRewriteInPlace(Replacement& replacement, const char* target);

// False when not every byte could be written; the replacement must then be
// abandoned.
bool WriteReplacement(Replacement& replacement, const void* data, size_t size);

// Flushes and closes the side file, for a caller that must close it before
// other files and commit later. False when the content may not be on disk;
// the replacement must then be abandoned.
bool FinishReplacement(Replacement& replacement);

// Finishes the side file if that is still to do and puts it in the target's
// place, then makes the new name durable. True once the target holds the new
// content, even when the folder could not be synced; false, with the side
// file gone and the target as it was, otherwise, except where the system's
// replace failed half-way and took the target's name: the side file then
// stays.
bool CommitReplacement(Replacement& replacement);

// Closes and removes the side file if this replacement made it; the target
// stays as it was.
void AbandonReplacement(Replacement& replacement);

// Closes the side file and leaves it as it is, for a caller whose side file
// tells how far it got; the target stays as it was. Nothing to do when the
// side file was never made.
void LeaveReplacement(Replacement& replacement);

// Makes `target` a copy of `source` through a side file named with `suffix`,
// a buffer's worth at a time, the buffer allocated by the caller before
// anything is made. False, with `target` as it was, when any call fails or
// the source is read short.
bool ReplaceWithCopy(const char* source, const char* target, const char* suffix, void* buffer, size_t size);
