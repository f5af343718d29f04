// Access to single files, the part of the platform (platform.h) under
// everything that reads or writes a file's bytes: the configuration rules,
// the patch engine and the tools.
#pragma once

#include <cstddef>
#include <cstdint>

struct FileHandle;  // owned by the layer that opened it

enum FileOpenMode {
    kOpenForReading,     // existing file, read only, no sharing restriction
    kCreateForWriting,   // create, or truncate an existing file; read and write
    kCreateNewForWriting, // create; fails when the name is taken
    kOpenExistingForWriting // existing file, read and write, nothing truncated
};

struct FileAccess {
    // Null when the file cannot be opened.
    FileHandle* (*open)(const char* path, FileOpenMode mode);
    // Bytes read; fewer than asked at the end of the file or on an error.
    size_t (*read)(FileHandle* file, void* buffer, size_t size);
    // True only when every byte was handed to the system.
    bool (*write)(FileHandle* file, const void* data, size_t size);
    bool (*seek)(FileHandle* file, uint64_t offset);
    bool (*size)(FileHandle* file, uint64_t* size);
    // Pushes written data through to the disk.
    bool (*flush)(FileHandle* file);
    // Always releases the handle; false when written data may have been lost.
    bool (*close)(FileHandle* file);
    // Renames a file; fails when the target name exists.
    bool (*rename)(const char* from, const char* to);
    // Puts `from` in the place of `to` in one step, replacing `to` if it
    // exists, and makes the change durable.
    bool (*replace)(const char* from, const char* to);
    bool (*remove)(const char* path);
    bool (*exists)(const char* path);
    // Gives the file `existing` the second name `to` (a hard link); fails
    // when `to` exists or the file system has no hard links.
    bool (*link)(const char* existing, const char* to);
};
