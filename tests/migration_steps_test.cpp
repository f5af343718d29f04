// The v1.0 to v1.1 layout migration, carried out by the platform's real file
// operations: the shell on Windows, our own layer on POSIX.
#include <gtest/gtest.h>

#include "file_operations.h"
#include "migration_steps.h"
#include "support/game_folder.h"
#include "support/recording_platform.h"
#include "support/scratch_folder.h"

namespace {

void RunMigrationSteps() {
    RemoveOldLauncher();
    CopyConfigFiles();
    MoveBookFiles();
    MoveStringFiles();
    MoveSoundFiles();
}

class MigrationSteps : public ::testing::Test {
protected:
    ScratchFolder game;
    GameRootScope root{game.RootText()};
    RecordingPlatform platform;

    int ResultOf(const std::string& kind, const std::string& fromSuffix) {
        for (const RecordedOperation& op : platform.record().operations) {
            if (op.kind == kind && op.from.size() >= fromSuffix.size() &&
                op.from.compare(op.from.size() - fromSuffix.size(), fromSuffix.size(), fromSuffix) == 0) {
                return op.result;
            }
        }
        ADD_FAILURE() << "no " << kind << " of ..." << fromSuffix;
        return -1;
    }
};

TEST_F(MigrationSteps, TurnTheV10LayoutIntoV11) {
    LayOutV10Game(game);
    RunMigrationSteps();

    EXPECT_EQ(game.Tree(), V11TreeOfLaidOutGame());
    EXPECT_EQ(game.Read("q8r/install.cfg"), "root install.cfg");
    EXPECT_EQ(game.Read("install.cfg"), "root install.cfg");
    EXPECT_EQ(game.Read("q8r/saves/save_1/game.sav"), "save 1");
    EXPECT_EQ(game.Read("q8r/books/letters/note.str"), "note");
    EXPECT_EQ(game.Read("q8r/snd/zaya/line.wav"), "voice zaya");
}

TEST_F(MigrationSteps, IssueTheirRequestsInTheFixedOrder) {
    platform.record().carryOutOperations = false;
    RunMigrationSteps();

    const std::vector<RecordedOperation>& ops = platform.record().operations;
    ASSERT_EQ(ops.size(), 1u + 9u + 1u + 1u + 23u);
    const std::string r = game.RootText();
    EXPECT_EQ(ops[0].kind, "delete");
    EXPECT_EQ(ops[0].from, r + "\\q8r.exe");
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(ops[1 + i].kind, "copy");
        EXPECT_EQ(ops[1 + i].from, r + "\\" + kGameConfigItems[i]);
        EXPECT_EQ(ops[1 + i].to, r + "\\q8r");
    }
    EXPECT_EQ(ops[10].from, r + "\\q8r\\books\\english\\*");
    EXPECT_EQ(ops[10].to, r + "\\q8r\\books\\");
    EXPECT_EQ(ops[11].from, r + "\\q8r\\strings\\english\\*");
    EXPECT_EQ(ops[11].to, r + "\\q8r\\strings\\");
    for (size_t i = 0; i < 23; ++i) {
        EXPECT_EQ(ops[12 + i].kind, "move");
        EXPECT_EQ(ops[12 + i].from, r + "\\q8r\\snd\\" + kGameVoiceFolders[i] + "\\english\\*");
        EXPECT_EQ(ops[12 + i].to, r + "\\q8r\\snd\\" + kGameVoiceFolders[i] + "\\");
    }
}

TEST_F(MigrationSteps, ASecondRunRefreshesTheCopiesAndChangesNothingElse) {
    LayOutV10Game(game);
    RunMigrationSteps();
    game.Write("user.cfg", "root user.cfg, changed since");
    game.Write("saves/save_0/game.sav", "save 0, played on");
    game.Write("q8r/saves/save_9/game.sav", "only in the mod");
    platform.record().operations.clear();

    RunMigrationSteps();

    EXPECT_NE(ResultOf("delete", "\\q8r.exe"), 0) << "the old launcher is gone already";
    EXPECT_EQ(game.Read("q8r/user.cfg"), "root user.cfg, changed since");
    EXPECT_EQ(game.Read("q8r/saves/save_0/game.sav"), "save 0, played on");
    EXPECT_EQ(game.Read("q8r/saves/save_9/game.sav"), "only in the mod");
    std::vector<std::string> expected = V11TreeOfLaidOutGame();
    expected.push_back("q8r/saves/save_9/");
    expected.push_back("q8r/saves/save_9/game.sav");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(game.Tree(), expected);
}

// A first run cut off during the moves left some items one level up already:
// the second run replaces same-named files, merges same-named folders and
// empties every english folder.
TEST_F(MigrationSteps, ASecondRunFinishesAHalfDoneFirst) {
    LayOutV10Game(game);
    game.Write("q8r/books/letters/note.str", "stale note");
    game.Write("q8r/books/letters/kept.str", "kept");
    game.Write("q8r/strings/objnames.str", "stale names");
    game.Write("q8r/snd/zaya/line.wav", "stale zaya");

    RunMigrationSteps();

    EXPECT_EQ(ResultOf("move", "\\books\\english\\*"), 0);
    EXPECT_EQ(ResultOf("move", "\\zaya\\english\\*"), 0);
    EXPECT_EQ(game.Read("q8r/books/letters/note.str"), "note");
    EXPECT_EQ(game.Read("q8r/strings/objnames.str"), "names");
    EXPECT_EQ(game.Read("q8r/snd/zaya/line.wav"), "voice zaya");
    std::vector<std::string> expected = V11TreeOfLaidOutGame();
    expected.push_back("q8r/books/letters/kept.str");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(game.Tree(), expected);
}

TEST_F(MigrationSteps, AMissingItemIsPassedOverAndTheRestStillRuns) {
    LayOutV10Game(game);
    std::filesystem::remove(game.Root() / "cam.cfg");
    std::filesystem::remove(game.Root() / "q8r.exe");
    std::filesystem::remove_all(game.Root() / "q8r" / "snd" / "guard2");
    std::filesystem::remove_all(game.Root() / "q8r" / "snd" / "kedar" / "english");

    RunMigrationSteps();

    EXPECT_NE(ResultOf("delete", "\\q8r.exe"), 0);
    EXPECT_NE(ResultOf("copy", "\\cam.cfg"), 0);
    EXPECT_EQ(ResultOf("copy", "\\dark.cfg"), 0);
    EXPECT_FALSE(game.Exists("q8r/cam.cfg"));
    EXPECT_TRUE(game.Exists("q8r/dark.bnd"));
    EXPECT_TRUE(game.IsFolder("q8r/saves/save_0"));
    EXPECT_NE(ResultOf("move", "\\guard2\\english\\*"), 0);
    EXPECT_NE(ResultOf("move", "\\kedar\\english\\*"), 0);
    EXPECT_FALSE(game.Exists("q8r/snd/guard2"));
    EXPECT_EQ(game.Read("q8r/snd/guard3/line.wav"), "voice guard3");
    EXPECT_EQ(game.Read("q8r/snd/zaya/line.wav"), "voice zaya");
    EXPECT_EQ(ResultOf("move", "\\zaya\\english\\*"), 0);
}

// A game root so long that "...\q8r.exe" no longer fits the shell's path
// list while "...\q8r" still does: cut short, the deletion of the old
// launcher would take the whole mod folder.
TEST(MigrationStepsWithALongRoot, NeverActOnAPathCutShort) {
    const std::string longRoot = "C:\\" + std::string(249, 'g');  // 252 characters
    GameRootScope root(longRoot);
    RecordingPlatform platform;
    platform.record().carryOutOperations = false;

    RunMigrationSteps();

    // Only "...\saves" (258 characters) onto "...\q8r" fits; everything else is skipped whole.
    const std::vector<RecordedOperation>& ops = platform.record().operations;
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].kind, "copy");
    EXPECT_EQ(ops[0].from, longRoot + "\\saves");
    EXPECT_EQ(ops[0].to, longRoot + "\\q8r");
}

TEST(FileOperationsSeam, RefusesAPathLongerThanTheShellListHolds) {
    RecordingPlatform platform;
    const std::string fits(258, 'a');
    const std::string tooLong(259, 'a');
    EXPECT_NE(DeleteFiles(tooLong.c_str()), 0);
    EXPECT_NE(MoveFiles(fits.c_str(), tooLong.c_str()), 0);
    EXPECT_NE(CopyFiles(tooLong.c_str(), fits.c_str()), 0);
    EXPECT_TRUE(platform.record().operations.empty());
}

}  // namespace
