// File access on Windows, straight onto the Win32 file interfaces, which
// already match names without regard to letter case.
#include <windows.h>

#include <string>
#include <vector>

#include "platform.h"
#include "win32_file_names.h"

struct FileHandle {
    HANDLE handle;
};

namespace {

// A file another program holds without sharing (a scanner looking at a file
// just closed) is waited for.
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
    std::wstring name;
    if (!LongWideName(path, &name)) return nullptr;
    SettleReplaced(name);
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    ChangeWhenUnlocked([&] {
        handle = gFileCalls.createFile(name.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                       nullptr);
        error = GetLastError();
        // Access denied to an open is the file's own answer, not a hold.
        if (handle == INVALID_HANDLE_VALUE && error != ERROR_SHARING_VIOLATION) SetLastError(ERROR_INVALID_HANDLE);
        return handle != INVALID_HANDLE_VALUE;
    });
    SetLastError(error);
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

// A link the system cannot open as itself is not renamed: the file it
// names would move instead.
bool Win32Rename(const char* from, const char* to) {
    std::wstring source, target;
    if (!LongWideName(from, &source) || !LongWideName(to, &target)) return false;
    if (ActsThroughFileLink(source) && !ActsOnLinkItself(source)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return ChangeWhenUnlocked([&] {
        return gFileCalls.moveFileEx(source.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
    }, source);
}

// The whole name `name` with its last element as its folder spells it.
void SpellAsListed(std::wstring* name) {
    WIN32_FIND_DATAW found;
    if (name->find_first_of(L"*?", 4) != std::wstring::npos) return;
    const HANDLE search = FindFirstFileW(name->c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    FindClose(search);
    *name = JoinName(FolderOfName(*name), found.cFileName);
}

// ReplaceFile keeps the replaced file's attributes, access rules and
// creation time, and the new file takes the name as it was given: it is
// given as the folder spells it (DARKINST.CFG asked for as Darkinst.cfg).
// A new name, or a link that is to go itself, needs a plain move, written
// through.
bool Win32Replace(const char* from, const char* to) {
    std::wstring replaced, replacement;
    if (!LongWideName(to, &replaced) || !LongWideName(from, &replacement)) return false;
    SettleReplaced(replaced);
    if (GetFileAttributesW(replaced.c_str()) != INVALID_FILE_ATTRIBUTES && !IsFileLink(replaced)) {
        SpellAsListed(&replaced);
        return ReplaceExistingFile(replacement, replaced);
    }
    return ChangeWhenUnlocked([&] {
        return gFileCalls.moveFileEx(replacement.c_str(), replaced.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }, replacement, replaced);
}

// A read-only backup or side file of an earlier run goes as any other.
bool Win32Remove(const char* path) {
    std::wstring name;
    return LongWideName(path, &name) && RemoveWholeName(name);
}

bool Win32Exists(const char* path) {
    std::wstring name;
    if (!LongWideName(path, &name)) return false;
    SettleReplaced(name);
    return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Link(const char* existing, const char* to) {
    std::wstring file, link;
    return LongWideName(existing, &file) && LongWideName(to, &link) &&
           CreateHardLinkW(link.c_str(), file.c_str(), nullptr) != 0;
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
    std::wstring name;
    std::string followed;
    if (!LongWideName(path, &name) || !IsFileLink(name)) return path;
    return LinkTarget(name, &followed) ? followed : path;
}

bool Win32SameFile(const char* a, const char* b) {
    std::wstring first, second;
    FileIdentity one, other;
    return LongWideName(a, &first) && LongWideName(b, &second) && IdentityOf(first, &one) &&
           IdentityOf(second, &other) && SameIdentity(one, other);
}

}  // namespace

const FileAccess kNativeFileAccess = {
    Win32Open, Win32Read, Win32Write, Win32Seek, Win32Size, Win32Flush,
    Win32Close, Win32Rename, Win32Replace, Win32Remove, Win32Exists,
    Win32Link, Win32SyncFolderOf, Win32SyncFileSystem, Win32StartWriteBack, Win32FollowLinks,
    Win32SameFile, nullptr,
};
