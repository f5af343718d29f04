// The silent copy, move and delete of whole items (files, and folders with
// everything in them), the only way the migration changes the folder layout.
// Sources are one item, or a folder followed by "\\*" for every item in it.
// They go to the platform's FileOperations (platform.h).
#pragma once

// 0 on success, nonzero otherwise. Every item of the same name at the target
// is replaced; a folder of the same name is merged.
int MoveFiles(const char* from, const char* to);
int CopyFiles(const char* from, const char* to);
int DeleteFiles(const char* path);
