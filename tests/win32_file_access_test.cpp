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
#include "win32_wine.h"

namespace {

// Another process holds `path` open without delete sharing for
// `milliseconds`; the call returns once the file is held.
class HeldFile {
public:
    HeldFile(const std::string& path, int milliseconds) {
        const std::string event = "Q8RHeldFile" + std::to_string(GetCurrentProcessId());
        held_ = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string holder = self;
        holder = holder.substr(0, holder.rfind('\\') + 1) + "file_holder.exe";
        std::string commandLine = "\"" + holder + "\" \"" + path + "\" " + std::to_string(milliseconds) + " " + event;
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
        int milliseconds;
    } cases[] = {
        {"CS18.avi", "CS18.avi", "CS18.avi.old", 500},  // rename
        {"Darkinst.cfg", "new", "Darkinst.cfg", 500},   // replace
        // past ReplaceFileW's tries: the move over the held file is refused
        // as access denied, and waits all the same
        {"Darkinst.cfg", "new", "Darkinst.cfg", 3000},
        {"CS18.avi.old", "CS18.avi.old", nullptr, 500},  // remove
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.held);
        ScratchFolder folder;
        folder.Write(c.held, "held");
        folder.Write("new", "new");
        const std::string from = folder.PathText(c.from);
        HeldFile held(folder.PathText(c.held), c.milliseconds);
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

// Stand-ins for the layer's calls, on a clock of their own: each pause the
// layer takes moves it on, so a hold of minutes costs the test nothing.
DWORD clockNow = 0;
DWORD heldUntil = 0;  // the replaced or the replacement is in use till then
DWORD failure = 0;    // what the replace answers instead of doing its work
std::vector<std::wstring> created;
const DWORD kDone = ~0u;  // FakeReplace does its work

void WINAPI AdvanceClock(DWORD milliseconds) {
    clockNow += milliseconds;
}

bool InUse() {
    if (clockNow >= heldUntil) return false;
    SetLastError(ERROR_SHARING_VIOLATION);
    return true;
}

BOOL WINAPI MoveWhenFree(LPCWSTR from, LPCWSTR to, DWORD flags) {
    return !InUse() && MoveFileExW(from, to, flags);
}

BOOL WINAPI DeleteWhenFree(LPCWSTR name) {
    return !InUse() && DeleteFileW(name);
}

HANDLE WINAPI RecordCreate(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE model) {
    if (disposition != OPEN_EXISTING) created.push_back(name);
    return CreateFileW(name, access, share, security, disposition, flags, model);
}

// ReplaceFileW as Windows documents it for each answer, given a backup name.
BOOL WINAPI FakeReplace(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags, LPVOID, LPVOID) {
    if (InUse()) return FALSE;
    const DWORD answer = failure;
    switch (failure) {
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:  // both keep their names, once
        failure = kDone;
        break;
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:  // the old file under the backup name
        MoveFileExW(replaced, backup, 0);
        heldUntil = clockNow + 5000;
        break;
    case ERROR_SUCCESS:  // as Wine has: success, and nothing done
        return TRUE;
    case ERROR_SHARING_VIOLATION:  // every try, as under Wine on an SMB share
        break;
    default:
        return ReplaceFileW(replaced, replacement, backup, flags, nullptr, nullptr);
    }
    SetLastError(answer);
    return FALSE;
}

class FakeCalls {
public:
    FakeCalls(DWORD held, DWORD fails) : saved_(gFileCalls) {
        clockNow = 0;
        heldUntil = held;
        failure = fails;
        created.clear();
        gFileCalls.replaceFile = FakeReplace;
        gFileCalls.moveFileEx = MoveWhenFree;
        gFileCalls.deleteFile = DeleteWhenFree;
        gFileCalls.createFile = RecordCreate;
        gFileCalls.sleep = AdvanceClock;
    }
    ~FakeCalls() {
        gFileCalls = saved_;
        PretendRunningUnder(WineAnswer::kAskTheSystem);
    }

private:
    Win32FileCalls saved_;
};

TEST(FileAccessWithLocks, AReplaceOutlastsAHoldAndNeverLosesTheName) {
    const struct {
        const char* name;
        DWORD held;  // milliseconds
        DWORD fails;
        bool replaced;
        std::vector<std::string> tree;
    } cases[] = {
        {"a scan of 5 s", 5000, kDone, true, {"CS18.avi"}},
        {"a scan of 20 s", 20000, kDone, true, {"CS18.avi"}},
        {"a hold past all patience", 600000, kDone, false, {"CS18.avi", "CS18.avi.new"}},
        {"1176: both keep their names", 0, ERROR_UNABLE_TO_MOVE_REPLACEMENT, true, {"CS18.avi"}},
        {"1177, the new file then held", 0, ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true, {"CS18.avi"}},
        {"ReplaceFileW fails on every try", 0, ERROR_SHARING_VIOLATION, true, {"CS18.avi"}},
        {"ReplaceFileW answers success and does nothing", 0, ERROR_SUCCESS, true, {"CS18.avi"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        folder.Write("CS18.avi", "old");
        folder.Write("CS18.avi.new", "new");
        std::wstring target, side;
        ASSERT_TRUE(LongWideName(folder.PathText("CS18.avi").c_str(), &target));
        ASSERT_TRUE(LongWideName(folder.PathText("CS18.avi.new").c_str(), &side));
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN);
        FakeCalls calls(c.held, c.fails);

        EXPECT_EQ(ReplaceExistingFile(side, target), c.replaced);

        EXPECT_EQ(folder.Tree(), c.tree);
        EXPECT_EQ(folder.Read("CS18.avi"), c.replaced ? "new" : "old");
        EXPECT_TRUE(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    }
}

// A cut-off run's backup: the old file under it, the player's name free or
// holding the new file; settled by the next replace or the next look.
TEST(FileAccessWithLocks, AnEarlierRunsBackupGoesBackOrGoes) {
    const struct {
        const char* name;
        bool nameFree;
        bool replace;  // or only open the name
        std::vector<std::string> tree;
        const char* content;
    } cases[] = {
        {"name free, replaced", true, true, {"Darkinst.cfg"}, "new"},
        {"name held, replaced", false, true, {"Darkinst.cfg"}, "new"},
        {"name free, read", true, false, {"Darkinst.cfg", "Darkinst.cfg.q8r-tmp"}, "old"},
        {"name held, read", false, false, {"Darkinst.cfg", "Darkinst.cfg.q8r-tmp"}, "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        folder.Write("Darkinst.cfg.q8r-was", "old");
        if (!c.nameFree) folder.Write("Darkinst.cfg", "old");
        folder.Write("Darkinst.cfg.q8r-tmp", "new");
        const std::string target = folder.PathText("Darkinst.cfg");
        if (c.replace) {
            EXPECT_TRUE(kNativeFileAccess.replace(folder.PathText("Darkinst.cfg.q8r-tmp").c_str(), target.c_str()));
        } else {
            FileHandle* file = kNativeFileAccess.open(target.c_str(), kOpenForReading);
            ASSERT_NE(file, nullptr);
            kNativeFileAccess.close(file);
        }
        EXPECT_EQ(folder.Tree(), c.tree);
        EXPECT_EQ(folder.Read("Darkinst.cfg"), c.content);
    }
}

// An id of 0 is what a file system without ids answers for every file.
TEST(FileAccessWithLocks, AnUnknownIdentityIsNeverTheSame) {
    EXPECT_FALSE(SameIdentity(FileIdentity{}, FileIdentity{}));
}

// On Windows a listing shows every taken name, so no probe file is made;
// under Wine the probe still tells a dangling link.
TEST(FileAccessWithLocks, TheUnseenNameProbeRunsOnlyUnderWine) {
    for (const WineAnswer platform : {WineAnswer::kWindows, WineAnswer::kWine}) {
        ScratchFolder folder;
        FakeCalls calls(0, kDone);
        PretendRunningUnder(platform);
        EXPECT_FALSE(kNativeFileAccess.remove(folder.PathText("missing.cfg").c_str()));
        EXPECT_EQ(created.size(), platform == WineAnswer::kWine ? 1u : 0u);
        EXPECT_TRUE(folder.Tree().empty());
    }
}

// Wine's, while another program holds the replaced file, given no backup
// name: the empty file made for the old content stays.
BOOL WINAPI FailsLeavingTemporary(LPCWSTR replaced, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) {
    wchar_t temporary[MAX_PATH];
    const std::wstring whole = replaced;
    GetTempFileNameW(whole.substr(4, whole.rfind(L'\\') - 4).c_str(), L"rf", 0, temporary);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

BOOL WINAPI RefusesMove(LPCWSTR, LPCWSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST(FileAccessWithLocks, WinesTemporaryOfAFailedReplaceGoesAndThePlayersStays) {
    ScratchFolder folder;
    folder.Write("CS18.avi", "old");
    folder.Write("CS18.avi.new", "new");
    folder.Write("rf0001.tmp", "");
    std::wstring target, side;
    ASSERT_TRUE(LongWideName(folder.PathText("CS18.avi").c_str(), &target));
    ASSERT_TRUE(LongWideName(folder.PathText("CS18.avi.new").c_str(), &side));
    FakeCalls calls(0, kDone);
    PretendRunningUnder(WineAnswer::kWine);
    gFileCalls.replaceFile = FailsLeavingTemporary;
    gFileCalls.moveFileEx = RefusesMove;

    EXPECT_FALSE(ReplaceExistingFile(side, target));

    EXPECT_EQ(folder.Tree(), (std::vector<std::string>{"CS18.avi", "CS18.avi.new", "rf0001.tmp"}));
    EXPECT_EQ(folder.Read("CS18.avi"), "old");
}

}  // namespace
