// The silent copy, move and delete of whole items (files, and folders with
// everything in them), the only way the migration changes the folder layout.
// Sources are one item, or a folder followed by "\*" for every item in it.
#pragma once

struct FileOperations {
    int (*move)(const char* from, const char* to);
    int (*copy)(const char* from, const char* to);
    int (*remove)(const char* path);
};

// The table in use; the platform's own unless a test installed another.
const FileOperations& CurrentFileOperations();
void UseFileOperations(const FileOperations* operations);
// This build's real layer: the shell on Windows, our own on POSIX.
const FileOperations& PlatformFileOperations();

// 0 on success, nonzero otherwise. Every item of the same name at the target
// is replaced; a folder of the same name is merged.
int MoveFiles(const char* from, const char* to);
int CopyFiles(const char* from, const char* to);
int DeleteFiles(const char* path);
