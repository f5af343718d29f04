// Access to single files, the part of the platform (platform.h) under
// everything that reads or writes a file's bytes: the configuration rules,
// the patch engine and the tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct FileHandle;  // owned by the layer that opened it

enum FileOpenMode {
    kOpenForReading,     // existing file, read only, no sharing restriction
    kCreateForWriting,   // create, or truncate an existing file; read and write
    kCreateNewForWriting, // create; fails when the name is taken, a link too
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
    // Puts the file `from` in the place of `to` in one step, replacing `to`
    // if it exists (a link at that name goes, not what it names), under the
    // spelling its folder lists; on Windows the file keeps `to`'s attributes
    // and access rules. True once `to` names the new file; the folder is not
    // synced (syncFolderOf).
    // False with `to` as it was, or, where the system failed half-way,
    // with `to` gone and `from` kept.
    bool (*replace)(const char* from, const char* to);
    // Removes a name; a link goes itself, never what it points to.
    bool (*remove)(const char* path);
    bool (*exists)(const char* path);
    // Gives the file `existing` the second name `to` (a hard link); fails
    // when `to` exists or the file system has no hard links.
    bool (*link)(const char* existing, const char* to);
    // Makes the last change to the name `path` durable: syncs the folder that
    // holds it. True where the file system journals names.
    bool (*syncFolderOf)(const char* path);
    // Makes every change so far durable on the file system holding `path`
    // and on every other one the run changed (folders linked to other disks).
    bool (*syncFileSystem)(const char* path);
    // Starts writing `length` bytes at `offset` of the file to the disk
    // without waiting, so a later flush waits for less. May do nothing.
    void (*startWriteBack)(FileHandle* file, uint64_t offset, uint64_t length);
    // The name of the file `path` names once symbolic links in its last
    // element are followed; `path` itself when it is none or dangles.
    std::string (*followLinks)(const char* path);
    // Whether the two names exist and name one and the same file.
    bool (*sameFile)(const char* a, const char* b);
    // Gives the open file the permission bits of the file `model` names, and
    // its owner too when `withOwner`; nothing when `model` does not exist.
    // Set on the open file, never by name. A file system that cannot hold
    // them (FAT, exFAT, NTFS or SMB mounts) loses them: no failure. Null
    // where replace keeps them itself (Windows).
    void (*keepModeOf)(FileHandle* file, const char* model, bool withOwner);
};
