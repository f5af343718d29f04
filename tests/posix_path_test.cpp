#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "darkinst_steps.h"
#include "posix_path.h"
#include "support/recording_platform.h"
#include "support/scratch_folder.h"

namespace {

TEST(ResolvePath, FindsEveryElementWhateverItsLetterCase) {
    ScratchFolder game;
    game.Write("Q8R/Books/English/Book1.STR", "b");
    game.Write("DARKINST.CFG", "d");
    WorkingDirectoryScope cwd(game.Root());

    const std::string r = game.RootText();
    struct Case {
        std::string written;
        std::string found;
    } cases[] = {
        {r + "\\q8r\\books\\english\\book1.str", r + "/Q8R/Books/English/Book1.STR"},
        {r + "\\q8r\\books\\english\\*", r + "/Q8R/Books/English/*"},
        {r + "\\q8r\\books\\", r + "/Q8R/Books"},
        {".\\q8r\\install.cfg", "./Q8R/install.cfg"},
        {"Darkinst.cfg", "DARKINST.CFG"},
        {"darkinst.cfg", "DARKINST.CFG"},
        {".//q8r", "./Q8R"},
        {r + "\\missing\\Deeper\\x", r + "/missing/Deeper/x"},
        {"/", "/"},
    };
    for (const Case& c : cases) EXPECT_EQ(ResolvePath(c.written.c_str()), c.found) << c.written;
}

TEST(ResolvePath, PrefersTheExactNameAndOtherwiseTheSmallestMatch) {
    ScratchFolder game;
    game.Write("q8r/a", "");
    game.Write("Q8R/b", "");
    game.Write("Saves/x", "");
    game.Write("SAVES/y", "");
    const std::string r = game.RootText();

    EXPECT_EQ(ResolvePath((r + "\\q8r").c_str()), r + "/q8r");
    EXPECT_EQ(ResolvePath((r + "\\Q8R").c_str()), r + "/Q8R");
    EXPECT_EQ(ResolvePath((r + "\\saves").c_str()), r + "/SAVES");
}

TEST(SameNameIgnoringCase, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(SameNameIgnoringCase("Darkinst.cfg", "DARKINST.CFG"));
    EXPECT_FALSE(SameNameIgnoringCase("darkinst.cfg", "darkinst.cf"));
    EXPECT_FALSE(SameNameIgnoringCase("\xC4pfel", "\xE4pfel"));
    EXPECT_FALSE(SameNameIgnoringCase("[", "{"));
}

using Tree = std::vector<std::string>;

// A game folder copied from Windows spells its names in any letter case.
TEST(DarkinstLetterCase, FindsBothFilesWhateverTheirCaseOnDisk) {
    ScratchFolder game;
    WorkingDirectoryScope cwd(game.Root());
    GameRootScope root(game.RootText());
    RecordingPlatform platform;
    game.Write("DARKINST.CFG", "resname_base .\\q8r+R\r\n");
    game.Write("Q8R/INSTALL.CFG", "install_path C:\\G\r\nload_path L\r\n");
    game.Write("Q8R/DarkInst.Cfg", "earlier run\r\n");

    ResetDefaultDarkinst();
    CreateCustomDarkinst();

    EXPECT_TRUE(platform.record().boxes.empty());
    EXPECT_EQ(game.Tree(), (Tree{"DARKINST.CFG", "Q8R/", "Q8R/Darkinst.cfg"}));
    EXPECT_EQ(game.Read("DARKINST.CFG"), "resname_base R\r\n\r\n\x1A");
    EXPECT_EQ(game.Read("Q8R/Darkinst.cfg"), "install_path C:\\G\r\nload_path C:\\G\\q8r+L\r\n\r\n\x1A");
}


}  // namespace
