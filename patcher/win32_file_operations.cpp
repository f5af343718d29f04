// Each primitive is one silent shell file operation on a one-path list.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "platform.h"
#include "path_format.h"

namespace {

const FILEOP_FLAGS kSilentFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;  // 0x0214

// The shell's one-path list: the path, its zero, and a closing zero.
void ToPathList(const char* path, char (&list)[kPathBufferSize]) {
    std::memset(list, 0, sizeof list);
    std::memcpy(list, path, std::strlen(path));
}

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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

int Win32Move(const char* from, const char* to) {
    // The shell would make a missing target folder, or a file in its place.
    if (!IsFolder(to)) return ERROR_PATH_NOT_FOUND;
    return ShellOperation(FO_MOVE, from, to);
}

int Win32Copy(const char* from, const char* to) {
    // Copying onto a missing folder "q8r" would make a file of that name.
    if (!IsFolder(to)) return ERROR_PATH_NOT_FOUND;
    return ShellOperation(FO_COPY, from, to);
}

int Win32Delete(const char* path) {
    return ShellOperation(FO_DELETE, path, nullptr);
}

}  // namespace

const FileOperations kNativeFileOperations = {Win32Move, Win32Copy, Win32Delete};
