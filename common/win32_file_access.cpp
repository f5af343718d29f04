// File access on Windows, straight onto the Win32 file interfaces, which
// already match names without regard to letter case.
#include <windows.h>

#include <string>

#include "platform.h"

struct FileHandle {
    HANDLE handle;
};

namespace {

// Files are opened without sharing restrictions: the game or an editor may
// hold them meanwhile.
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileHandle* Win32Open(const char* path, FileOpenMode mode) {
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (mode == kCreateForWriting) {
        access |= GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
    } else if (mode == kCreateNewForWriting) {
        access |= GENERIC_WRITE;
        disposition = CREATE_NEW;
    } else if (mode == kOpenExistingForWriting) {
        access |= GENERIC_WRITE;
    }
    HANDLE handle = CreateFileA(path, access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return new FileHandle{handle};
}

size_t Win32Read(FileHandle* file, void* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const size_t left = size - done;
        const DWORD ask = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(file->handle, static_cast<char*>(buffer) + done, ask, &got, nullptr) || got == 0) break;
        done += got;
    }
    return done;
}

bool Win32Write(FileHandle* file, const void* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const size_t left = size - done;
        const DWORD ask = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD put = 0;
        if (!WriteFile(file->handle, static_cast<const char*>(data) + done, ask, &put, nullptr) || put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

bool Win32Seek(FileHandle* file, uint64_t offset) {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file->handle, distance, nullptr, FILE_BEGIN) != 0;
}

bool Win32Size(FileHandle* file, uint64_t* size) {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(file->handle, &value)) return false;
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

bool Win32Flush(FileHandle* file) {
    return FlushFileBuffers(file->handle) != 0;
}

bool Win32Close(FileHandle* file) {
    const bool closed = CloseHandle(file->handle) != 0;
    delete file;
    return closed;
}

// Virus scanners, search indexers and cloud-sync clients open a freshly
// written file for a moment; a rename, replace or delete meanwhile fails.
// Such a failure is tried again, with growing pauses, for about two seconds
// before it counts.
template <typename Change>
bool ChangeWhenUnlocked(Change change) {
    const DWORD kPatience = 2000;
    DWORD pause = 10;
    for (DWORD waited = 0;; waited += pause, pause = pause < 250 ? pause * 2 : 500) {
        if (change()) return true;
        const DWORD error = GetLastError();
        // ReplaceFileW says a held file could not be removed in its own words.
        const bool locked = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                            error == ERROR_LOCK_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
        if (!locked || waited >= kPatience) return false;
        Sleep(pause);
    }
}

bool Win32Rename(const char* from, const char* to) {
    return ChangeWhenUnlocked([&] { return MoveFileA(from, to) != 0; });
}

// The whole name of `path` in UTF-16: Wine's ReplaceFile refuses a bare
// file name (it finds no folder in it), and a folder the code page cannot
// spell has no whole ANSI name.
bool WholeWideName(const char* path, std::wstring* whole) {
    const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0) return false;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length) != length) return false;
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return false;
    whole->assign(needed, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), needed, whole->data(), nullptr);
    if (got == 0 || got >= needed) return false;
    whole->resize(got);
    return true;
}

// ReplaceFile keeps the replaced file's attributes, access rules and
// creation time; a new name needs a plain move, written through.
bool Win32Replace(const char* from, const char* to) {
    std::wstring replaced, replacement;
    if (GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES) {
        if (!WholeWideName(to, &replaced) || !WholeWideName(from, &replacement)) return false;
        return ChangeWhenUnlocked([&] {
            return ReplaceFileW(replaced.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                nullptr, nullptr) != 0;
        });
    }
    return ChangeWhenUnlocked(
        [&] { return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0; });
}

bool Win32Remove(const char* path) {
    return ChangeWhenUnlocked([&] { return DeleteFileA(path) != 0; });
}

bool Win32Exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Link(const char* existing, const char* to) {
    return CreateHardLinkA(to, existing, nullptr) != 0;
}

// NTFS journals its names, and the renames above are written through.
bool Win32SyncFolderOf(const char*) {
    return true;
}

// Flushing a whole volume needs administrator rights; every file and name
// this program changes is flushed or written through on its own.
bool Win32SyncFileSystem(const char*) {
    return true;
}

void Win32StartWriteBack(FileHandle*, uint64_t, uint64_t) {}

std::string Win32FollowLinks(const char* path) {
    return path;
}

bool Win32SameFile(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION info[2];
    const char* paths[2] = {a, b};
    for (int k = 0; k < 2; ++k) {
        HANDLE handle = CreateFileA(paths[k], 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return false;
        const BOOL got = GetFileInformationByHandle(handle, &info[k]);
        CloseHandle(handle);
        if (!got) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

}  // namespace

const FileAccess kNativeFileAccess = {
    Win32Open, Win32Read, Win32Write, Win32Seek, Win32Size, Win32Flush,
    Win32Close, Win32Rename, Win32Replace, Win32Remove, Win32Exists,
    Win32Link, Win32SyncFolderOf, Win32SyncFileSystem, Win32StartWriteBack, Win32FollowLinks,
    Win32SameFile,
};
