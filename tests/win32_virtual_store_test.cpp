// Where the elevated patcher looks for the game's VirtualStore twin, and
// that a twin holding what the migration takes stops it.
#include <gtest/gtest.h>

#include "platform.h"
#include "support/scratch_folder.h"
#include "virtual_store.h"

namespace {

TEST(VirtualStore, TheTwinIsFoundOnlyForAGameInsideProgramFiles) {
    const std::vector<std::string> programs = {"C:\\Program Files", "C:\\Program Files (x86)"};
    const std::string store = "C:\\Users\\Ann\\AppData\\Local";
    const struct {
        const char* root;
        const char* twin;
    } cases[] = {
        {"C:\\Program Files (x86)\\Thief2", "C:\\Users\\Ann\\AppData\\Local\\VirtualStore\\Program Files (x86)\\Thief2"},
        {"c:\\PROGRAM FILES\\Games\\Thief2", "C:\\Users\\Ann\\AppData\\Local\\VirtualStore\\PROGRAM FILES\\Games\\Thief2"},
        {"C:\\Program Files Extra\\Thief2", ""},  // only a folder's name begins alike
        {"C:\\Games\\Thief2", ""},
        {"D:\\Program Files\\Thief2", ""},
        {"\\\\server\\Program Files\\Thief2", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(VirtualStoreTwin(c.root, store, programs), c.twin) << c.root;
    EXPECT_EQ(VirtualStoreTwin(cases[0].root, "", programs), "");
}

TEST(VirtualStore, ATwinStopsTheRunOnlyWhenItHoldsWhatTheMigrationTakes) {
    ScratchFolder folder;
    folder.Write("twin/thief2.exe.log", "");
    EXPECT_FALSE(TwinHoldsMigratedItems(folder.PathText("twin"), kNativeFileAccess.exists));
    folder.Write("twin/saves/game0000.sav", "newer");
    EXPECT_TRUE(TwinHoldsMigratedItems(folder.PathText("twin"), kNativeFileAccess.exists));
    EXPECT_NE(VirtualStoreMessage("X:\\twin").find("\n\nX:\\twin\n\n"), std::string::npos);
}

}  // namespace
