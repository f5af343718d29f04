// What the copy, move and delete primitives do to a folder, on the
// platform's real layer.
#include <gtest/gtest.h>

#include "file_operations.h"
#include "support/scratch_folder.h"

namespace {

class FileOperationsOnDisk : public ::testing::Test {
protected:
    ScratchFolder folder;
    std::string P(const std::string& relative) { return folder.PathText(relative); }
};

TEST_F(FileOperationsOnDisk, MoveOfAWildcardTakesFilesAndFoldersAndLeavesTheFolderEmpty) {
    folder.Write("books/english/a.str", "a");
    folder.Write("books/english/sub/b.str", "b");
    folder.Write("books/english/sub/deeper/c.str", "c");

    EXPECT_EQ(MoveFiles(P("books/english/*").c_str(), (P("books") + "\\").c_str()), 0);

    const std::vector<std::string> expected = {
        "books/", "books/a.str", "books/english/", "books/sub/", "books/sub/b.str", "books/sub/deeper/",
        "books/sub/deeper/c.str",
    };
    EXPECT_EQ(folder.Tree(), expected);
}

TEST_F(FileOperationsOnDisk, MoveReplacesSameNamedFilesAndMergesSameNamedFolders) {
    folder.Write("snd/guard1/english/line.wav", "new line");
    folder.Write("snd/guard1/line.wav", "old line");
    folder.Write("snd/guard1/english/extra/x.wav", "new x");
    folder.Write("snd/guard1/extra/x.wav", "old x");
    folder.Write("snd/guard1/extra/kept.wav", "kept");

    EXPECT_EQ(MoveFiles(P("snd/guard1/english/*").c_str(), (P("snd/guard1") + "\\").c_str()), 0);

    EXPECT_EQ(folder.Read("snd/guard1/line.wav"), "new line");
    EXPECT_EQ(folder.Read("snd/guard1/extra/x.wav"), "new x");
    EXPECT_EQ(folder.Read("snd/guard1/extra/kept.wav"), "kept");
    EXPECT_FALSE(folder.Exists("snd/guard1/english/extra"));
    EXPECT_TRUE(folder.IsFolder("snd/guard1/english"));
}

TEST_F(FileOperationsOnDisk, CopyOfAFolderTakesItsTreeAndARepeatMerges) {
    folder.Write("saves/s0/game.sav", "first");
    folder.Write("saves/s1/deep/x.bin", "x");
    folder.MakeFolder("q8r");

    EXPECT_EQ(CopyFiles(P("saves").c_str(), P("q8r").c_str()), 0);
    EXPECT_EQ(folder.Read("q8r/saves/s1/deep/x.bin"), "x");

    folder.Write("saves/s0/game.sav", "second");
    folder.Write("q8r/saves/s7/mine.sav", "mine");
    EXPECT_EQ(CopyFiles(P("saves").c_str(), P("q8r").c_str()), 0);

    EXPECT_EQ(folder.Read("q8r/saves/s0/game.sav"), "second");
    EXPECT_EQ(folder.Read("q8r/saves/s7/mine.sav"), "mine");
    EXPECT_EQ(folder.Read("saves/s0/game.sav"), "second") << "a copy leaves its source";
}

TEST_F(FileOperationsOnDisk, CopyReplacesASameNamedFileAtTheTarget) {
    folder.Write("user.cfg", "the game's");
    folder.Write("q8r/user.cfg", "an older copy, longer than the new one");

    EXPECT_EQ(CopyFiles(P("user.cfg").c_str(), P("q8r").c_str()), 0);
    EXPECT_EQ(folder.Read("q8r/user.cfg"), "the game's");
}

// The mod folder must never turn into a file: a copy onto a missing target
// folder fails and makes nothing.
TEST_F(FileOperationsOnDisk, CopyOntoAMissingFolderFailsAndCreatesNothing) {
    folder.Write("install.cfg", "cfg");
    folder.Write("saves/s0/game.sav", "save");

    EXPECT_NE(CopyFiles(P("install.cfg").c_str(), P("q8r").c_str()), 0);
    EXPECT_NE(CopyFiles(P("saves").c_str(), P("q8r").c_str()), 0);
    EXPECT_FALSE(folder.Exists("q8r"));
}

TEST_F(FileOperationsOnDisk, MoveOntoAMissingFolderFailsAndMovesNothing) {
    folder.Write("books/english/a.str", "a");

    EXPECT_NE(MoveFiles(P("books/english/*").c_str(), P("elsewhere").c_str()), 0);
    EXPECT_EQ(folder.Read("books/english/a.str"), "a");
    EXPECT_FALSE(folder.Exists("elsewhere"));
}

TEST_F(FileOperationsOnDisk, DeleteRemovesAFileOrAWholeFolderAndFailsOnAMissingOne) {
    folder.Write("q8r.exe", "launcher");
    folder.Write("old/a/b.txt", "b");
    folder.Write("keep.txt", "keep");

    EXPECT_EQ(DeleteFiles(P("q8r.exe").c_str()), 0);
    EXPECT_EQ(DeleteFiles(P("old").c_str()), 0);
    EXPECT_NE(DeleteFiles(P("q8r.exe").c_str()), 0);
    EXPECT_NE(DeleteFiles(P("never-there.avi.old").c_str()), 0);

    EXPECT_EQ(folder.Tree(), std::vector<std::string>{"keep.txt"});
}

TEST_F(FileOperationsOnDisk, AMissingSourceFailsAndChangesNothing) {
    folder.MakeFolder("q8r");
    folder.Write("q8r/cam.cfg", "mod's");

    EXPECT_NE(CopyFiles(P("cam.cfg").c_str(), P("q8r").c_str()), 0);
    EXPECT_NE(MoveFiles(P("nothing").c_str(), P("q8r").c_str()), 0);
    EXPECT_NE(MoveFiles(P("nothing/*").c_str(), P("q8r").c_str()), 0);
    EXPECT_NE(DeleteFiles(P("nothing/*").c_str()), 0);
    EXPECT_EQ(folder.Read("q8r/cam.cfg"), "mod's");
    EXPECT_EQ(folder.Tree(), (std::vector<std::string>{"q8r/", "q8r/cam.cfg"}));
}

}  // namespace
