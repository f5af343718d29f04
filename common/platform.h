// Everything the platform-free code asks of the system, in one struct. Each
// program fills one Platform at start from its win32_ or posix_ layer and
// hands it to SetPlatform; the tests hand in their recording fake. Parts a
// program does not use stay null.
//
// Two things are chosen at link time instead, because every program has
// exactly one of each per platform and no test replaces them: the
// single-instance guard (single_instance.h) and the working-directory query
// (working_directory.h).
#pragma once

#include <cstddef>

#include "file_access.h"

// The silent copy, move and delete of whole items (files, and folders with
// everything in them); sources are one item, or a folder followed by "\*".
// 0 on success, nonzero otherwise.
struct FileOperations {
    int (*move)(const char* from, const char* to);
    int (*copy)(const char* from, const char* to);
    int (*remove)(const char* path);
};

// What the patcher shows, and how it ends.
struct PatcherUi {
    // Replaces the status line's text and has it drawn before returning.
    void (*showStatus)(const char* text);
    // Returns once the user has dismissed the box. The texts are the fixed
    // ones and the walk's paths and reasons: UTF-8 (ASCII for the fixed).
    void (*showMessageBox)(const char* text, const char* caption, unsigned style);
    // Ends the process with `exitCode`; never returns to its caller.
    void (*endProgram)(int exitCode);
    // Called often during a long step; lets a window answer the system.
    // Null where nothing needs it.
    void (*stayResponsive)();
};

// The one request the launcher makes of the desktop shell: open a program in
// a working directory and return without waiting for it.
struct ShellStart {
    // The shell's own argument order. Parameters may be null. The result is
    // the shell's: above 32 when the request was taken, and nobody looks.
    long (*open)(const char* verb, const char* file, const char* parameters, const char* directory,
                 int showCommand);
};

struct Platform {
    FileAccess files;            // every program
    FileOperations operations;   // the patcher
    PatcherUi ui;                // the patcher
    ShellStart shell;            // the launcher
    // Large buffers (the patch engine's, the tool's memory check), given back
    // with std::free: std::malloc on every real platform; a test makes it fail.
    void* (*allocate)(size_t size);
};

void SetPlatform(const Platform& platform);
const Platform& CurrentPlatform();

inline const FileAccess& Files() {
    return CurrentPlatform().files;
}

// This build's own parts, each defined in its layer's win32_ or posix_ file.
extern const FileAccess kNativeFileAccess;
extern const FileOperations kNativeFileOperations;
extern const ShellStart kNativeShellStart;
