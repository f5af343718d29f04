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

// Files are opened without sharing restrictions: the game or an editor may
// hold them meanwhile.
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The volume and the name the system resolves `path` to when it opens it
// with `flags`. (Wine's final path names end at 259 characters; the file's
// own name has no such limit.)
bool VolumeAndName(const std::wstring& path, DWORD flags, std::wstring* name) {
    const HANDLE handle =
        CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    std::vector<DWORD> buffer(sizeof(FILE_NAME_INFO) / sizeof(DWORD) + 32768);
    BY_HANDLE_FILE_INFORMATION info;
    const bool named = GetFileInformationByHandleEx(handle, FileNameInfo, buffer.data(),
                                                    static_cast<DWORD>(buffer.size() * sizeof(DWORD))) &&
                       GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!named) return false;
    const FILE_NAME_INFO* file = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
    *name = std::to_wstring(info.dwVolumeSerialNumber) + L":" +
            std::wstring(file->FileName, file->FileNameLength / sizeof(wchar_t));
    return true;
}

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

// Wine moves, deletes and replaces the file a file link names, not the
// link, and shows such a link as a plain file; only the handle tells.
bool IsFileLink(const std::wstring& name) {
    return ReachOfName(name, 0) == NameReach::kElsewhere;
}

// A link the system cannot open as itself is not renamed: the file it
// names would move instead.
bool Win32Rename(const char* from, const char* to) {
    std::wstring source;
    if (LongWideName(from, &source) && IsFileLink(source) &&
        ReachOfName(source, FILE_FLAG_OPEN_REPARSE_POINT) != NameReach::kOwnName) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return ChangeWhenUnlocked([&] { return MoveFileA(from, to) != 0; });
}

// The whole name `name` with its last element as its folder spells it.
void SpellAsListed(std::wstring* name) {
    WIN32_FIND_DATAW found;
    if (name->find_first_of(L"*?", 4) != std::wstring::npos) return;
    const HANDLE search = FindFirstFileW(name->c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    FindClose(search);
    *name = name->substr(0, name->rfind(L'\\') + 1) + found.cFileName;
}

// ReplaceFile keeps the replaced file's attributes, access rules and
// creation time, and the new file takes the name as it was given: it is
// given as the folder spells it (DARKINST.CFG asked for as Darkinst.cfg).
// A new name, or a link that is to go itself, needs a plain move, written
// through.
bool Win32Replace(const char* from, const char* to) {
    std::wstring replaced, replacement;
    if (GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES) {
        if (!WholeWideName(to, &replaced) || !WholeWideName(from, &replacement)) return false;
        if (!IsFileLink(replaced)) {
            SpellAsListed(&replaced);
            return ChangeWhenUnlocked([&] { return ReplaceExistingFile(replacement, replaced, ReplaceFileW); });
        }
    }
    return ChangeWhenUnlocked(
        [&] { return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0; });
}

// What cannot be deleted by its name (a link, whose delete would take the
// file it names; under Wine a dangling link or another owner's private
// file, which it cannot open) is taken by a rename of an empty file of ours
// onto the name, which replaces the name itself, and that file is deleted.
// A folder is never taken, and a free name is not made.
bool RemoveByReplacing(const std::wstring& name) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(name.c_str());
    const bool taken = attributes == INVALID_FILE_ATTRIBUTES ? TakenThoughUnseen(name)
                                                             : !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    const std::wstring ours = name + WideSuffix(kRemovalSuffix);
    const HANDLE made = taken ? CreateFileW(ours.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr)
                              : INVALID_HANDLE_VALUE;
    if (made == INVALID_HANDLE_VALUE) {
        SetLastError(error);
        return false;
    }
    CloseHandle(made);
    if (!MoveFileExW(ours.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(ours.c_str());
        SetLastError(error);
        return false;
    }
    return DeleteFileW(name.c_str()) != 0;
}

// A read-only backup or side file of an earlier run goes as any other.
bool Win32Remove(const char* path) {
    std::wstring name;
    return LongWideName(path, &name) && RemoveWholeName(name);
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

// The name, in the form the file calls take, of the file the link at
// `name` leads to; false where the system or the code page cannot name it.
bool LinkTarget(const std::wstring& name, std::string* target) {
    const HANDLE handle =
        CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    std::wstring final(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (length == 0 || length >= final.size()) return false;
    final.resize(length);
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        final = L"\\\\" + final.substr(8);
    } else if (final.rfind(L"\\\\?\\", 0) == 0) {
        final = final.substr(4);
    }
    return SpellInAnsi(final, target);
}

std::string Win32FollowLinks(const char* path) {
    std::wstring name;
    std::string followed;
    if (!LongWideName(path, &name) || !IsFileLink(name)) return path;
    return LinkTarget(name, &followed) ? followed : path;
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

// Wine's ReplaceFile (with no backup name) first moves the replaced file to
// an "rfXXXX.tmp" it makes empty beside it, and leaves that empty file
// whenever the move fails, as it does while another program holds the file.
std::vector<std::wstring> TemporaryNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((folder + L"\\rf*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(folder + L"\\" + entry.cFileName);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

// Only an empty file that was not there before the call is the call's.
void RemoveTemporariesLeft(const std::wstring& folder, const std::vector<std::wstring>& before) {
    for (const std::wstring& name : TemporaryNames(folder)) {
        bool old = false;
        for (const std::wstring& known : before) old = old || lstrcmpiW(known.c_str(), name.c_str()) == 0;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!old && GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
            data.nFileSizeLow == 0) {
            DeleteFileW(name.c_str());
        }
    }
}

}  // namespace

bool RemoveWholeName(const std::wstring& name) {
    const auto remove = [&] { return DeleteFileW(name.c_str()) != 0; };
    if (!IsFileLink(name) && ChangeWhenUnlocked([&] { return ChangeClearingReadOnly(name, remove); })) return true;
    return RemoveByReplacing(name);
}

bool TakenThoughUnseen(const std::wstring& name) {
    const HANDLE probe = CreateFileW(name.c_str(), DELETE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return false;
    }
    return GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
}

NameReach ReachOfName(const std::wstring& path, DWORD flags) {
    const size_t cut = path.rfind(L'\\');
    if (cut == std::wstring::npos) return NameReach::kUnknown;
    std::wstring folder = path.substr(0, cut);
    if (!folder.empty() && folder.back() == L':') folder += L'\\';  // a drive's root
    std::wstring own, reached;
    if (!VolumeAndName(folder, 0, &own) || !VolumeAndName(path, flags, &reached)) return NameReach::kUnknown;
    if (own.back() != L'\\') own += L'\\';
    own += path.substr(cut + 1);
    return CompareStringOrdinal(reached.c_str(), -1, own.c_str(), -1, TRUE) == CSTR_EQUAL ? NameReach::kOwnName
                                                                                        : NameReach::kElsewhere;
}

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

bool LongWideName(const char* path, std::wstring* whole) {
    if (!WholeWideName(path, whole)) return false;
    if (whole->rfind(L"\\\\?\\", 0) == 0) return true;
    if (whole->rfind(L"\\\\", 0) == 0) {
        *whole = L"\\\\?\\UNC\\" + whole->substr(2);
    } else {
        *whole = L"\\\\?\\" + *whole;
    }
    return true;
}

// 1176 (the old file gone, the new one still under its own name) and 1177
// (the old file kept only under a name the system chose) leave the replaced
// name free: the new file is put there by name, and nothing is removed.
bool ReplaceExistingFile(const std::wstring& replacement, const std::wstring& replaced, ReplaceFileCall replace) {
    const std::wstring folder = replaced.substr(0, replaced.rfind(L'\\'));
    const std::vector<std::wstring> before = TemporaryNames(folder);
    if (replace(replaced.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        RemoveTemporariesLeft(folder, before);
    } else if (ChangeWhenUnlocked([&] {
                   return MoveFileExW(replacement.c_str(), replaced.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
               })) {
        return true;
    }
    SetLastError(error);
    return false;
}

const FileAccess kNativeFileAccess = {
    Win32Open, Win32Read, Win32Write, Win32Seek, Win32Size, Win32Flush,
    Win32Close, Win32Rename, Win32Replace, Win32Remove, Win32Exists,
    Win32Link, Win32SyncFolderOf, Win32SyncFileSystem, Win32StartWriteBack, Win32FollowLinks,
    Win32SameFile, nullptr,
};
