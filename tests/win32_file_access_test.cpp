// Renames, replacements and deletions outlast a file that another program
// holds open for a moment, as scanners and sync clients do; a replace the
// system fails, whole or half-way, leaves nothing of ours and loses nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform.h"
#include "support/scratch_folder.h"
#include "win32_file_names.h"

namespace {

// Another process holds `path` open without delete sharing for half a
// second; the call returns once the file is held.
class HeldFile {
public:
    explicit HeldFile(const std::string& path) {
        const std::string event = "Q8RHeldFile" + std::to_string(GetCurrentProcessId());
        held_ = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string holder = self;
        holder = holder.substr(0, holder.rfind('\\') + 1) + "file_holder.exe";
        std::string commandLine = "\"" + holder + "\" \"" + path + "\" 500 " + event;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(holder.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process_) != 0;
        if (started_) started_ = WaitForSingleObject(held_, 20000) == WAIT_OBJECT_0;
    }
    ~HeldFile() {
        if (process_.hProcess) {
            WaitForSingleObject(process_.hProcess, 20000);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        CloseHandle(held_);
    }
    bool Started() const { return started_; }

private:
    HANDLE held_ = nullptr;
    PROCESS_INFORMATION process_ = {};
    bool started_ = false;
};

TEST(FileAccessWithLocks, RenameReplaceAndRemoveWaitForAShortLock) {
    const FileAccess& files = kNativeFileAccess;
    const struct {
        const char* held;  // the file the other process holds
        const char* from;
        const char* to;    // none for a removal
    } cases[] = {
        {"CS18.avi", "CS18.avi", "CS18.avi.old"},  // rename
        {"Darkinst.cfg", "new", "Darkinst.cfg"},   // replace
        {"CS18.avi.old", "CS18.avi.old", nullptr},  // remove
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.held);
        ScratchFolder folder;
        folder.Write(c.held, "held");
        folder.Write("new", "new");
        const std::string from = folder.PathText(c.from);
        HeldFile held(folder.PathText(c.held));
        ASSERT_TRUE(held.Started());
        if (!c.to) {
            EXPECT_TRUE(files.remove(from.c_str()));
        } else if (folder.Exists(c.to)) {
            EXPECT_TRUE(files.replace(from.c_str(), folder.PathText(c.to).c_str()));
        } else {
            EXPECT_TRUE(files.rename(from.c_str(), folder.PathText(c.to).c_str()));
        }
        // Wine's replace makes a temporary file at each try it cannot finish.
        for (const std::string& name : folder.Tree()) EXPECT_NE(name.rfind("rf", 0), 0u) << name;
    }
}

// Stand-ins for ReplaceFileW, each failing as Wine's or Windows' does.
std::wstring FolderOfName(LPCWSTR name) {
    const std::wstring whole = name;
    return whole.substr(0, whole.rfind(L'\\'));
}

// Wine's, while another program holds the replaced file: the empty file
// made for the old content stays.
BOOL WINAPI FailsLeavingTemporary(LPCWSTR replaced, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) {
    wchar_t temporary[MAX_PATH];
    GetTempFileNameW(FolderOfName(replaced).c_str(), L"rf", 0, temporary);
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
}

// 1176 without a backup name: the old file is gone, the new one not moved.
BOOL WINAPI FailsAfterRemoving(LPCWSTR replaced, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) {
    DeleteFileW(replaced);
    SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    return FALSE;
}

// 1177 without a backup name: the old file lives on under another name.
BOOL WINAPI FailsAfterMovingAside(LPCWSTR replaced, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) {
    MoveFileW(replaced, (FolderOfName(replaced) + L"\\rf00AA.tmp").c_str());
    SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
    return FALSE;
}

// 1176, and another program takes the freed name before the new file can.
BOOL WINAPI FailsAndNameIsTaken(LPCWSTR replaced, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) {
    DeleteFileW(replaced);
    const HANDLE other = CreateFileW(replaced, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    WriteFile(other, "other", 5, &written, nullptr);
    CloseHandle(other);
    SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    return FALSE;
}

TEST(FileAccessWithLocks, AFailedReplaceLeavesNoTemporaryAndLosesNoContent) {
    const struct {
        const char* name;
        ReplaceFileCall replace;
        bool replaced;
        std::vector<std::string> tree;  // besides the player's own "rf0001.tmp"
        const char* target;
    } cases[] = {
        {"held", FailsLeavingTemporary, false, {"CS18.avi", "CS18.avi.new"}, "old"},
        {"1176", FailsAfterRemoving, true, {"CS18.avi"}, "new"},
        {"1177", FailsAfterMovingAside, true, {"CS18.avi", "rf00AA.tmp"}, "new"},
        {"1176, name taken", FailsAndNameIsTaken, false, {"CS18.avi", "CS18.avi.new"}, "other"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        folder.Write("CS18.avi", "old");
        folder.Write("CS18.avi.new", "new");
        folder.Write("rf0001.tmp", "");
        std::wstring target, side;
        ASSERT_TRUE(WholeWideName(folder.PathText("CS18.avi").c_str(), &target));
        ASSERT_TRUE(WholeWideName(folder.PathText("CS18.avi.new").c_str(), &side));

        EXPECT_EQ(ReplaceExistingFile(side, target, c.replace), c.replaced);

        std::vector<std::string> expected = c.tree;
        expected.push_back("rf0001.tmp");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(folder.Tree(), expected);
        EXPECT_EQ(folder.Read("CS18.avi"), c.target);
        if (folder.Exists("CS18.avi.new")) {
            EXPECT_EQ(folder.Read("CS18.avi.new"), "new");
        }
        if (folder.Exists("rf00AA.tmp")) {
            EXPECT_EQ(folder.Read("rf00AA.tmp"), "old");
        }
    }
}

}  // namespace
