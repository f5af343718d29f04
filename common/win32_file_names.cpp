// The Windows name layer (win32_file_names.h): names, identity, links and
// removal, on whole UTF-16 names.
#include "win32_file_names.h"

#include <cstdint>
#include <vector>

#include "win32_wine.h"

namespace {

// The volume and the name the system resolves `path` to when it opens it
// with `flags`. (Wine's final path names end at 259 characters; the file's
// own name has no such limit.)
bool VolumeAndName(const std::wstring& path, DWORD flags, std::wstring* name) {
    const HANDLE handle = OpenForInformation(path, flags);
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

// What cannot be deleted by its name (a link, whose delete would take the
// file it names; under Wine a dangling link or another owner's private
// file, which it cannot open) is taken by a rename of an empty file of ours
// onto the name, which replaces the name itself, and that file is deleted.
// A folder is never taken, and a free name is not made. An earlier run's
// empty file of ours goes first.
bool RemoveByReplacing(const std::wstring& name) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(name.c_str());
    const bool taken = attributes == INVALID_FILE_ATTRIBUTES ? TakenThoughUnseen(name)
                                                             : !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    const std::wstring ours = name + WideSuffix(kRemovalSuffix);
    if (taken && GetFileAttributesW(ours.c_str()) != INVALID_FILE_ATTRIBUTES) RemoveWholeName(ours);
    const HANDLE made = taken ? gFileCalls.createFile(ours.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                              : INVALID_HANDLE_VALUE;
    if (made == INVALID_HANDLE_VALUE) {
        SetLastError(error);
        return false;
    }
    CloseHandle(made);
    if (!ChangeWhenUnlocked([&] {
            return gFileCalls.moveFileEx(ours.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        }, name)) {
        gFileCalls.deleteFile(ours.c_str());
        SetLastError(error);
        return false;
    }
    return ChangeWhenUnlocked([&] { return gFileCalls.deleteFile(name.c_str()); }, name);
}

}  // namespace

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

bool SpellInAnsi(const std::wstring& wide, std::string* ansi) {
    const bool utf8 = GetACP() == CP_UTF8;  // takes neither flags nor a default-used report
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL defaulted = FALSE;
    BOOL* report = utf8 ? nullptr : &defaulted;
    const int length = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, report);
    if (size <= 0 || defaulted) return false;
    std::string bytes(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, wide.data(), length, &bytes[0], size, nullptr, report) != size ||
        defaulted) {
        return false;
    }
    const int back = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (back <= 0) return false;
    std::wstring again(static_cast<size_t>(back), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, &again[0], back);
    if (again != wide) return false;
    *ansi = bytes;
    return true;
}

std::string Narrow(const std::wstring& wide) {
    std::string text;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t point = wide[i];
        if (point >= 0xD800 && point < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
            point = 0x10000 + ((point - 0xD800) << 10) + (wide[++i] - 0xDC00);
        }
        if (point < 0x80) {
            text += static_cast<char>(point);
        } else if (point < 0x800) {
            text += static_cast<char>(0xC0 | (point >> 6));
            text += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            text += static_cast<char>(0xE0 | (point >> 12));
            text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (point >> 18));
            text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return text;
}

std::wstring Wide(const std::string& text) {
    std::wstring wide;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t point = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        for (size_t k = 1; k < length && i + k < text.size(); ++k) {
            point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        if (point < 0x10000) {
            wide += static_cast<wchar_t>(point);
        } else {
            wide += static_cast<wchar_t>(0xD800 + ((point - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        }
    }
    return wide;
}

std::wstring FolderOfName(const std::wstring& name) {
    const size_t cut = name.rfind(L'\\');
    if (cut == std::wstring::npos) return std::wstring();
    std::wstring folder = name.substr(0, cut);
    if (!folder.empty() && folder.back() == L':') folder += L'\\';
    return folder;
}

std::wstring LastElementOf(const std::wstring& name) {
    return name.substr(name.rfind(L'\\') + 1);
}

std::wstring JoinName(const std::wstring& folder, const std::wstring& element) {
    size_t end = folder.size();
    while (end > 0 && folder[end - 1] == L'\\') --end;
    return folder.substr(0, end) + L"\\" + element;
}

HANDLE OpenForInformation(const std::wstring& name, DWORD flags) {
    return CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags,
                       nullptr);
}

// The 128-bit id where the system gives one (ReFS ids do not fit 64 bits);
// the 64-bit index where it does not (before Windows 8).
bool IdentityOf(const std::wstring& name, FileIdentity* identity) {
    const HANDLE handle = OpenForInformation(name, 0);
    if (handle == INVALID_HANDLE_VALUE) return false;
    FILE_ID_INFO info;
    BY_HANDLE_FILE_INFORMATION old;
    *identity = FileIdentity{};
    bool read = gFileCalls.fileInformation(handle, FileIdInfo, &info, sizeof info) != 0;
    if (read) {
        static_assert(sizeof info.FileId.Identifier == sizeof identity->id);
        identity->volume = info.VolumeSerialNumber;
        std::memcpy(identity->id, info.FileId.Identifier, sizeof identity->id);
    } else if ((read = GetFileInformationByHandle(handle, &old) != 0)) {
        identity->volume = old.dwVolumeSerialNumber;
        std::memcpy(identity->id, &old.nFileIndexLow, sizeof old.nFileIndexLow);
        std::memcpy(identity->id + 4, &old.nFileIndexHigh, sizeof old.nFileIndexHigh);
    }
    CloseHandle(handle);
    return read;
}

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
    const FileIdentity unknown;
    return a.volume == b.volume && std::memcmp(a.id, b.id, sizeof a.id) == 0 &&
           std::memcmp(a.id, unknown.id, sizeof a.id) != 0;
}

NameReach ReachOfName(const std::wstring& path, DWORD flags) {
    if (path.rfind(L'\\') == std::wstring::npos) return NameReach::kUnknown;
    std::wstring own, reached;
    if (!VolumeAndName(FolderOfName(path), 0, &own) || !VolumeAndName(path, flags, &reached)) {
        return NameReach::kUnknown;
    }
    if (own.back() != L'\\') own += L'\\';
    own += LastElementOf(path);
    return CompareStringOrdinal(reached.c_str(), -1, own.c_str(), -1, TRUE) == CSTR_EQUAL ? NameReach::kOwnName
                                                                                        : NameReach::kElsewhere;
}

// Wine moves, deletes and replaces the file a file link names, not the
// link, and shows such a link as a plain file; only the handle tells.
bool IsFileLink(const std::wstring& name) {
    return ReachOfName(name, 0) == NameReach::kElsewhere;
}

bool IsListedLink(const std::wstring& name, DWORD attributes, DWORD tag) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (IsReparseTagNameSurrogate(tag)) return true;
        // Wine 8: lists a linked folder as a reparse point with no tag.
        // Shown by Matrix.Wine (link-english, link-inside); goes once Wine
        // lists IO_REPARSE_TAG_SYMLINK.
        return RunningUnderWine() && tag == 0;
    }
    // Wine 8: shows a link to a file as a plain file; only where a handle
    // leads tells. Shown by Matrix.Wine (link-item-file, link-copy-target);
    // goes once Wine lists file links as reparse points.
    return RunningUnderWine() && IsFileLink(name);
}

bool ActsOnLinkItself(const std::wstring& name) {
    // Wine 8: cannot open a link as itself, and moves or deletes what it
    // names; the link is left alone. Shown by Matrix.Wine (link-item-file,
    // link-item-folder); goes once FILE_FLAG_OPEN_REPARSE_POINT opens a link.
    if (!RunningUnderWine()) return true;
    return ReachOfName(name, FILE_FLAG_OPEN_REPARSE_POINT) == NameReach::kOwnName;
}

bool FinalNameOf(const std::wstring& name, std::wstring* final) {
    const HANDLE handle = OpenForInformation(name, 0);
    if (handle == INVALID_HANDLE_VALUE) return false;
    final->assign(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, final->data(), static_cast<DWORD>(final->size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (length == 0 || length >= final->size()) return false;
    final->resize(length);
    return true;
}

bool LinkTarget(const std::wstring& name, std::string* target) {
    std::wstring final;
    if (!FinalNameOf(name, &final)) return false;
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        final = L"\\\\" + final.substr(8);
    } else if (final.rfind(L"\\\\?\\", 0) == 0) {
        final = final.substr(4);
    }
    return SpellInAnsi(final, target);
}

// Wine 8: DeleteFileW, MoveFileExW and ReplaceFileW on a link to a file act
// on the file it names, and the link looks like a plain file; Windows
// deletes and moves the link itself. Shown by the matrix's states with a
// link at a side name or as an item (tests/matrix, "stale-*-link",
// "link-item-file"). Goes once Wine acts on a file link itself.
bool ActsThroughFileLink(const std::wstring& name) {
    return RunningUnderWine() && IsFileLink(name);
}

bool DeleteWholeName(const std::wstring& name, bool folder) {
    return ChangeClearingReadOnly(name, [&] {
        return (folder ? RemoveDirectoryW(name.c_str()) : gFileCalls.deleteFile(name.c_str())) != 0;
    });
}

bool RemoveWholeName(const std::wstring& name) {
    if (!ActsThroughFileLink(name) && ChangeWhenUnlocked([&] { return DeleteWholeName(name, false); }, name)) {
        return true;
    }
    return RemoveByReplacing(name);
}

// Wine 8: a dangling link is listed by no call, and GetFileAttributesW
// answers "not found" for it, yet its name is taken (a create through it
// makes the file it names). Shown by the matrix's Wine states of a copy
// onto a dangling link (tests/matrix, "link-copy-target" dangling). Goes
// once Wine lists dangling links as Windows does.
bool TakenThoughUnseen(const std::wstring& name) {
    if (!RunningUnderWine()) return false;
    const HANDLE probe = gFileCalls.createFile(name.c_str(), DELETE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return false;
    }
    return GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
}
