#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "darkinst_steps.h"
#include "support/recording_platform.h"
#include "support/scratch_folder.h"

namespace {

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
