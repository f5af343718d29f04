// The POSIX layers' own few system-call loops, kept in one place.
#pragma once

#include <cstddef>
#include <string>

// Reads until `size` bytes, the end of the file or an error; the bytes read.
size_t ReadFully(int fd, void* buffer, size_t size);
// True only when every byte was written.
bool WriteFully(int fd, const void* data, size_t size);

// The folder that holds `path` ("." for a bare name).
std::string ParentFolder(const std::string& path);
// A rename or a new name is durable only once the folder holding it is.
bool SyncFolder(const std::string& folder);
