// Each primitive is one silent shell file operation on a one-path list. What
// the shell leaves undone is then finished item by item, judged by what is on
// the disk afterwards, not by the shell's answer alone: some shells (Wine's)
// refuse a wildcard of several files, or answer 0 and leave a folder unmoved
// where a same-named one waits at the target. On Windows the shell does it
// all and the item-by-item work finds nothing left to do.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "path_format.h"

namespace {

const FILEOP_FLAGS kSilentFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;  // 0x0214

// The shell's one-path list: the path, its zero, and a closing zero.
void ToPathList(const char* path, char (&list)[kPathBufferSize]) {
    std::memset(list, 0, sizeof list);
    std::memcpy(list, path, std::strlen(path));
}

int ShellOperation(UINT function, const char* from, const char* to) {
    char source[kPathBufferSize];
    char target[kPathBufferSize];
    ToPathList(from, source);
    SHFILEOPSTRUCTA request;
    std::memset(&request, 0, sizeof request);
    request.hwnd = nullptr;
    request.wFunc = function;
    request.pFrom = source;
    if (to) {
        ToPathList(to, target);
        request.pTo = target;
    }
    request.fFlags = kSilentFlags;
    return SHFileOperationA(&request);
}

bool Present(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Join(const std::string& folder, const std::string& name) {
    size_t end = folder.size();
    while (end > 0 && folder[end - 1] == '\\') --end;
    return folder.substr(0, end) + "\\" + name;
}

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('\\') + 1);
}

// The items a source names, with the names they have on the disk: one
// existing item, or every entry of a folder that a wildcard last element
// matches. False when the item or the folder does not exist.
bool ExpandSource(const std::string& source, std::vector<std::string>* items) {
    const size_t slash = source.rfind('\\');
    const std::string folder = slash == std::string::npos ? "." : source.substr(0, slash);
    const bool wildcard = NameOf(source).find_first_of("*?") != std::string::npos;
    if (wildcard ? !IsFolder(folder) : !Present(source)) return false;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(source.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return wildcard;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") items->push_back(Join(folder, name));
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return true;
}

bool RemoveItem(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != 0;
    // A linked folder goes by itself; what it points to stays.
    bool removed = true;
    std::vector<std::string> children;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        removed = ExpandSource(Join(path, "*"), &children);
        for (const std::string& child : children) removed = RemoveItem(child) && removed;
    }
    return removed && RemoveDirectoryA(path.c_str()) != 0;
}

// Copies `source` into the folder `targetFolder` under its own name: a file
// of that name is replaced, a folder of that name merged.
bool CopyItem(const std::string& source, const std::string& targetFolder) {
    const DWORD from = GetFileAttributesA(source.c_str());
    if (from == INVALID_FILE_ATTRIBUTES) return false;
    const std::string target = Join(targetFolder, NameOf(source));
    const DWORD to = GetFileAttributesA(target.c_str());
    const bool targetExists = to != INVALID_FILE_ATTRIBUTES;
    if (targetExists && (from & FILE_ATTRIBUTE_DIRECTORY) != (to & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (from & FILE_ATTRIBUTE_DIRECTORY) {
        if (!targetExists && !CreateDirectoryA(target.c_str(), nullptr)) return false;
        std::vector<std::string> children;
        bool copied = ExpandSource(Join(source, "*"), &children);
        for (const std::string& child : children) {
            // A folder copied into itself would copy its own copy without end.
            if (lstrcmpiA(child.c_str(), target.c_str()) == 0) continue;
            copied = CopyItem(child, target) && copied;
        }
        return copied;
    }
    // A link at the target gives way itself; the file it points to is not written.
    if (targetExists && (to & FILE_ATTRIBUTE_REPARSE_POINT) && !DeleteFileA(target.c_str())) return false;
    return CopyFileA(source.c_str(), target.c_str(), FALSE) != 0;
}

// Moves `source` into the folder `targetFolder` under its own name, with the
// same replace and merge rules as the copy.
bool MoveItem(const std::string& source, const std::string& targetFolder) {
    const DWORD from = GetFileAttributesA(source.c_str());
    if (from == INVALID_FILE_ATTRIBUTES) return false;
    const std::string target = Join(targetFolder, NameOf(source));
    const DWORD to = GetFileAttributesA(target.c_str());
    if (to != INVALID_FILE_ATTRIBUTES) {
        if ((from & FILE_ATTRIBUTE_DIRECTORY) != (to & FILE_ATTRIBUTE_DIRECTORY)) return false;
        if (!(from & FILE_ATTRIBUTE_DIRECTORY)) {
            return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
        }
        std::vector<std::string> children;
        bool moved = ExpandSource(Join(source, "*"), &children);
        for (const std::string& child : children) moved = MoveItem(child, target) && moved;
        return moved && RemoveDirectoryA(source.c_str()) != 0;
    }
    if (MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED)) return true;
    // A folder is not renamed onto another volume: it is copied, then removed.
    return GetLastError() == ERROR_NOT_SAME_DEVICE && CopyItem(source, targetFolder) && RemoveItem(source);
}

// The result when the work is not done: the shell's own code, if it gave one.
int Failure(int shellResult, int otherwise) {
    return shellResult != 0 ? shellResult : otherwise;
}

int Win32Move(const char* from, const char* to) {
    // The shell would make a missing target folder, or a file in its place.
    if (!IsFolder(to)) return ERROR_PATH_NOT_FOUND;
    std::vector<std::string> items;
    const bool found = ExpandSource(from, &items);
    const int result = ShellOperation(FO_MOVE, from, to);
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    bool moved = true;
    for (const std::string& item : items) {
        if (Present(item)) moved = MoveItem(item, to) && moved;
    }
    return moved ? 0 : Failure(result, ERROR_GEN_FAILURE);
}

int Win32Copy(const char* from, const char* to) {
    // Copying onto a missing folder "q8r" would make a file of that name.
    if (!IsFolder(to)) return ERROR_PATH_NOT_FOUND;
    std::vector<std::string> items;
    const bool found = ExpandSource(from, &items);
    const int result = ShellOperation(FO_COPY, from, to);
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    bool copied = true;
    for (const std::string& item : items) {
        if (result != 0 || !Present(Join(to, NameOf(item)))) copied = CopyItem(item, to) && copied;
    }
    return copied ? 0 : Failure(result, ERROR_GEN_FAILURE);
}

int Win32Delete(const char* path) {
    std::vector<std::string> items;
    const bool found = ExpandSource(path, &items);
    const int result = ShellOperation(FO_DELETE, path, nullptr);
    if (!found) return Failure(result, ERROR_FILE_NOT_FOUND);
    bool removed = true;
    for (const std::string& item : items) {
        if (Present(item)) removed = RemoveItem(item) && removed;
    }
    return removed ? 0 : Failure(result, ERROR_GEN_FAILURE);
}

}  // namespace

const FileOperations kNativeFileOperations = {Win32Move, Win32Copy, Win32Delete};
