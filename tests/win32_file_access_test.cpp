// Renames, replacements and deletions outlast a file that another program
// holds open for a moment, as scanners and sync clients do.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform.h"
#include "support/scratch_folder.h"

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
    }
}

}  // namespace
