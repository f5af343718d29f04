// The POSIX layers' own few system-call loops, kept in one place.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

// Opens `path` with `flags` only when it is a regular file: the open itself
// never waits (a FIFO would wait for a writer) and nothing else is left open
// (a device may act on being opened, but is closed at once). The descriptor
// blocks as usual afterwards and closes on exec; -1 otherwise.
int OpenRegularFile(const char* path, int flags, mode_t mode = 0666);

// Reads until `size` bytes, the end of the file or an error; the bytes read.
size_t ReadFully(int fd, void* buffer, size_t size);
// True only when every byte was written.
bool WriteFully(int fd, const void* data, size_t size);

// The folder that holds `path` ("." for a bare name).
std::string ParentFolder(const std::string& path);
// A rename or a new name is durable only once the folder holding it is.
bool SyncFolder(const std::string& folder);

// Whether a failure with this errno may pass by itself: network and FUSE
// mounts answer EIO, ETIMEDOUT, EAGAIN or ESTALE for a while after a hiccup.
bool IsTransientError(int error);
// Calls `call` until it succeeds, fails for good, or a transient failure has
// lasted a few seconds, pausing longer each time; errno is the last call's.
// After a wait in vain, calls are tried once until one succeeds.
bool RetryWhileTransient(const std::function<bool()>& call);

// The file systems this run changed a name on, noted by a folder on each,
// so that the end of the run flushes those and not every mount of the
// machine: a hung network mount the run never touched must not hold it.
void NoteChangedFolder(const std::string& folder);
// syncfs on the file system of `path` and on each noted one; true when all
// were synced.
bool SyncChangedFileSystems(const std::string& path);
