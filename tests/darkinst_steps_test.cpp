#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "darkinst_steps.h"
#include "migration_steps.h"
#include "patcher_ui.h"
#include "support/faulty_file_access.h"
#include "support/recording_platform.h"
#include "support/scratch_folder.h"
#include "task_sequence.h"

namespace {

using Tree = std::vector<std::string>;

const std::string kBox1 =
    "Failed to create custom Darkinst file.\n"
    "\n"
    "Q8R needs to rename and alter the file \"\\q8r\\install.cfg\"\n"
    "in order to play. Refer to the supplied FAQ for help.";
const std::string kBox2 =
    "The file \"\\q8r\\Darkinst.cfg\"\n"
    " could not be opened for writing.\n"
    "\n"
    "Q8R needs to alter this file in order to play.";
const std::string kBox3 =
    "The file \"Darkinst.cfg\"\n"
    " could not be opened for writing.\n"
    "\n"
    "Q8R needs to alter this file in order to play.";

// Opened for writing, but the new content could not take the file's place.
const std::string kBox2Replaced =
    "The file \"\\q8r\\Darkinst.cfg\"\n"
    " could not be replaced with its new content.\n"
    "\n"
    "Q8R needs to alter this file in order to play. Close any program\n"
    "that may be using the game folder, then run Q8RPatcher again.";
const std::string kBox3Replaced =
    "The file \"Darkinst.cfg\"\n"
    " could not be replaced with its new content.\n"
    "\n"
    "Q8R needs to alter this file in order to play. Close any program\n"
    "that may be using the game folder, then run Q8RPatcher again.";

const char* const kEnd = "\x1A";

// A game folder as the steps see it: working directory and GameRoot.
class GameFolder : public ::testing::Test {
protected:
    GameFolder() : cwd_(game.Root()), root_(game.RootText()) {}

    int Run(void (*step)()) { return RunStep(step); }

    std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const RecordedBox& box : platform.record().boxes) {
            EXPECT_EQ(box.caption, "Error");
            EXPECT_EQ(box.style, kMessageBoxError);
            texts.push_back(box.text);
        }
        return texts;
    }

    ScratchFolder game;
    RecordingPlatform platform;

private:
    WorkingDirectoryScope cwd_;
    GameRootScope root_;
};

struct RewriteCase {
    const char* name;
    std::string input;
    std::string output;
};

using CreateCustomDarkinstTest = GameFolder;

TEST_F(CreateCustomDarkinstTest, PointsEveryFolderListIntoTheModFolder) {
    const RewriteCase cases[] = {
        {"the five keys",
         "install_path C:\\Games\\Thief2\r\nresname_base R\r\nload_path L\r\nscript_module_path S\r\nmovie_path M\r\n",
         std::string("install_path C:\\Games\\Thief2\r\nresname_base C:\\Games\\Thief2\\q8r+R\r\n"
                     "load_path C:\\Games\\Thief2\\q8r+L\r\nscript_module_path C:\\Games\\Thief2\\q8r+S\r\n"
                     "movie_path C:\\Games\\Thief2\\q8r\\movies+M\r\n") + kEnd},
        {"LF line ends", "install_path C:\\G\nresname_base R\nmovie_path M\n",
         std::string("install_path C:\\G\r\nresname_base C:\\G\\q8r+R\r\nmovie_path C:\\G\\q8r\\movies+M\r\n") + kEnd},
        {"movie_path last without a line end", "install_path C:\\G\r\nmovie_path M",
         std::string("install_path C:\\G\r\nmovie_path C:\\G\\q8r\\movies+M") + kEnd},
        {"data after the end marker", std::string("install_path C:\\G\r\nload_path L\r\n") + kEnd + "load_path X\r\n",
         std::string("install_path C:\\G\r\nload_path C:\\G\\q8r+L\r\n\r\n") + kEnd},
        {"CR inside a line", "install_path C:\\G\r\nload_path L\rX\r\nA\rB\r\n",
         std::string("install_path C:\\G\r\nload_path C:\\G\\q8r+L\rX\r\nA\rB\r\n\r\n") + kEnd},
        {"other letter case", "Install_Path C:\\G\r\ninstall_path C:\\G\r\nResname_Base R\r\nLOAD_PATH L\r\n",
         std::string("Install_Path C:\\G\r\ninstall_path C:\\G\r\nResname_Base R\r\nLOAD_PATH L\r\n\r\n") + kEnd},
        {"key behind a comment", "install_path C:\\G\r\n; resname_base R\r\n",
         std::string("install_path C:\\G\r\n; resname_basC:\\G\\q8r+e R\r\n\r\n") + kEnd},
        {"first key in the line decides", "install_path C:\\G\r\nresname_base R load_path L\r\n",
         std::string("install_path C:\\G\r\nresname_base C:\\G\\q8r+R load_path L\r\n\r\n") + kEnd},
        {"each install_path governs what follows",
         "resname_base R0\r\ninstall_path C:\\A\r\nresname_base R1\r\ninstall_path D:\\B\r\nload_path L\r\n",
         std::string("resname_base R0\r\ninstall_path C:\\A\r\nresname_base C:\\A\\q8r+R1\r\n"
                     "install_path D:\\B\r\nload_path D:\\B\\q8r+L\r\n\r\n") + kEnd},
        {"trailing backslash", "install_path C:\\Games\\Thief2\\\r\nresname_base R\r\n",
         std::string("install_path C:\\Games\\Thief2\\\r\nresname_base C:\\Games\\Thief2\\\\q8r+R\r\n\r\n") + kEnd},
        {"second movie_path line", "install_path C:\\G\r\nmovie_path M1\r\nmovie_path M2\r\n",
         std::string("install_path C:\\G\r\nmovie_path C:\\G\\q8r\\movies+M1\r\n"
                     "movie_path C:\\G\\q8r\\movies\\movies+M2\r\n") + kEnd},
        {"lines after movie_path", "install_path C:\\G\r\nmovie_path M\r\nX\r\nresname_base R\r\n",
         std::string("install_path C:\\G\r\nmovie_path C:\\G\\q8r\\movies+M\r\nX\r\n"
                     "resname_base C:\\G\\q8r\\movies+R\r\n\r\n") + kEnd},
        {"empty line after movie_path", "install_path C:\\G\r\nmovie_path M\r\n\r\n",
         std::string("install_path C:\\G\r\nmovie_path C:\\G\\q8r\\movies+M\r\n\r\n\r\n") + kEnd},
        {"two lines with a final line end", "A\r\nB\r\n", std::string("A\r\nB\r\n\r\n") + kEnd},
        {"two lines without a final line end", "A\r\nB", std::string("A\r\nB\r\n") + kEnd},
        {"empty input", "", std::string("\r\n") + kEnd},
        {"empty lines and comments stay in place", "\r\n; comment\r\ninstall_path C:\\G\r\n\r\nfog 1\r\nload_path L\r\n",
         std::string("\r\n; comment\r\ninstall_path C:\\G\r\n\r\nfog 1\r\nload_path C:\\G\\q8r+L\r\n\r\n") + kEnd},
        {"key lines without a value", "install_path C:\\G\r\ninstall_path\r\nresname_base\r\nmovie_path\r\nload_path L\r\n",
         std::string("install_path C:\\G\r\ninstall_path\r\nresname_base\r\nmovie_path\r\nload_path C:\\G\\q8r+L\r\n\r\n") +
             kEnd},
        {"empty install_path value", "install_path \r\nload_path L\r\n",
         std::string("install_path \r\nload_path \\q8r+L\r\n\r\n") + kEnd},
        {"movie_path before any install_path", "movie_path M\r\nresname_base R\r\n",
         std::string("movie_path M\r\nresname_base R\r\n\r\n") + kEnd},
        {"empty value of a list", "install_path C:\\G\r\nload_path \r\n",
         std::string("install_path C:\\G\r\nload_path C:\\G\\q8r+\r\n\r\n") + kEnd},
    };
    for (const RewriteCase& c : cases) {
        game.Write("q8r/install.cfg", c.input);
        EXPECT_EQ(Run(CreateCustomDarkinst), -1) << c.name;
        EXPECT_EQ(game.Read("q8r/Darkinst.cfg"), c.output) << c.name;
        EXPECT_EQ(game.Tree(), (Tree{"q8r/", "q8r/Darkinst.cfg"})) << c.name;
        EXPECT_TRUE(BoxTexts().empty()) << c.name;
    }
}

TEST_F(CreateCustomDarkinstTest, ReplacesAnEarlierDarkinstInsteadOfEditingItAgain) {
    const std::string copy = "install_path C:\\G\r\nresname_base R\r\n";
    game.Write("q8r/Darkinst.cfg", std::string("install_path C:\\G\r\nresname_base C:\\G\\q8r+R\r\n\r\n") + kEnd);
    game.Write("q8r/install.cfg", copy);
    Run(CreateCustomDarkinst);
    EXPECT_EQ(game.Read("q8r/Darkinst.cfg"), std::string("install_path C:\\G\r\nresname_base C:\\G\\q8r+R\r\n\r\n") + kEnd);
    ASSERT_EQ(platform.record().operations.size(), 1u);
    EXPECT_EQ(platform.record().operations[0].kind, "delete");
    EXPECT_EQ(platform.record().operations[0].from, game.RootText() + "\\q8r\\darkinst.cfg");
}

TEST_F(CreateCustomDarkinstTest, ShowsBox1AndGoesOnWithoutTheCopy) {
    game.MakeFolder("q8r");
    game.Write("q8r/Darkinst.cfg", "earlier\r\n");
    EXPECT_EQ(Run(CreateCustomDarkinst), -1);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kBox1}));
    EXPECT_EQ(game.Tree(), (Tree{"q8r/"}));
}

TEST_F(CreateCustomDarkinstTest, LeavesACopyThatCannotBeReadAsItIs) {
    // A folder in the place of install.cfg renames like a file but opens as none.
    game.MakeFolder("q8r/install.cfg");
    EXPECT_EQ(Run(CreateCustomDarkinst), -1);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kBox1}));
    EXPECT_TRUE(game.IsFolder("q8r/Darkinst.cfg"));

    // A read that breaks off must not cut the copy short.
    const std::string copy = "install_path C:\\G\r\n" + std::string(9000, 'x') + "\r\n";
    game.Write("q8r/install.cfg", copy);
    std::filesystem::remove_all(game.Root() / "q8r" / "Darkinst.cfg");
    platform.record().boxes.clear();
    {
        FaultyFileAccess faults(kCallRead, 2);
        EXPECT_EQ(Run(CreateCustomDarkinst), -1);
    }
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kBox1}));
    EXPECT_EQ(game.Read("q8r/Darkinst.cfg"), copy);
}

struct WriteFault {
    FileCall call;
    int failAt;
    bool opened;  // the box says the file could not be replaced
};

// The file is read and closed, opened for writing and closed again to see
// that it may be changed, and then its new text goes to a temporary file.
const WriteFault kWriteFaults[] = {
    {kCallOpen, 1, false}, {kCallOpen, 2, false}, {kCallWrite, 1, true},
    {kCallFlush, 1, true},  {kCallClose, 3, true},  {kCallReplace, 1, true},
};

TEST_F(CreateCustomDarkinstTest, EndsTheProgramWhenTheFileCannotBeWritten) {
    const std::string copy = "install_path C:\\G\r\nresname_base R\r\nmovie_path M\r\n";
    for (const WriteFault& fault : kWriteFaults) {
        game.Write("q8r/install.cfg", copy);
        platform.record().boxes.clear();
        int exitCode = -1;
        {
            FaultyFileAccess faults(fault.call, fault.failAt);
            exitCode = Run(CreateCustomDarkinst);
            EXPECT_TRUE(faults.Failed()) << FileCallName(fault.call);
        }
        EXPECT_EQ(exitCode, 1) << FileCallName(fault.call);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{fault.opened ? kBox2Replaced : kBox2}))
            << FileCallName(fault.call);
        EXPECT_EQ(game.Read("q8r/Darkinst.cfg"), copy) << FileCallName(fault.call);
        EXPECT_EQ(game.Tree(), (Tree{"q8r/", "q8r/Darkinst.cfg"})) << FileCallName(fault.call);
    }
}

TEST_F(CreateCustomDarkinstTest, DeletesNothingWhenTheRootIsTooLongForThePath) {
    // A root of 242 bytes: the delete path would be cut to "...\q8r\darkinst.cf".
    const std::string padding(241 - game.RootText().size(), 'r');
    game.Write(padding + "/q8r/darkinst.cf", "not ours");
    game.Write(padding + "/q8r/Darkinst.cfg", "earlier");
    game.Write(padding + "/q8r/install.cfg", "copy");
    const std::string longRoot = game.PathText(padding);
    ASSERT_EQ(longRoot.size(), 242u);
    WorkingDirectoryScope cwd(game.Root() / padding);
    GameRootScope root(longRoot);

    EXPECT_EQ(Run(CreateCustomDarkinst), -1);
    EXPECT_TRUE(platform.record().operations.empty());
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kBox1}));
    EXPECT_EQ(game.Read(padding + "/q8r/darkinst.cf"), "not ours");
    EXPECT_EQ(game.Read(padding + "/q8r/Darkinst.cfg"), "earlier");
    EXPECT_EQ(game.Read(padding + "/q8r/install.cfg"), "copy");
}

using ResetDefaultDarkinstTest = GameFolder;

TEST_F(ResetDefaultDarkinstTest, TakesOutTheOldModPrefixes) {
    const RewriteCase cases[] = {
        {"the four lists",
         "install_path C:\\Games\\Thief2\r\nresname_base .\\q8r+R\r\nload_path .\\q8r+L\r\n"
         "script_module_path .\\q8r+S\r\nmovie_path .\\q8r\\movies+M\r\n",
         std::string("install_path C:\\Games\\Thief2\r\nresname_base R\r\nload_path L\r\n"
                     "script_module_path S\r\nmovie_path M\r\n") + kEnd},
        {"LF line ends", "install_path C:\\G\nresname_base .\\q8r+R\nfog 1\n",
         std::string("install_path C:\\G\r\nresname_base R\r\nfog 1\r\n\r\n") + kEnd},
        {"only the first entry", "resname_base .\\q8r+.\\q8r+R\r\n", std::string("resname_base .\\q8r+R\r\n\r\n") + kEnd},
        {"absolute entries stay", "resname_base .\\q8r+R\r\nload_path C:\\G\\q8r+L\r\nmovie_path C:\\G\\q8r\\movies+M\r\n",
         std::string("resname_base R\r\nload_path C:\\G\\q8r+L\r\nmovie_path C:\\G\\q8r\\movies+M\r\n\r\n") + kEnd},
        {"prefix elsewhere in the line stays", "resname_base X+.\\q8r+\r\nload_path .\\q8r+L\r\n",
         std::string("resname_base X+.\\q8r+\r\nload_path L\r\n\r\n") + kEnd},
        {"first key in the line decides", "resname_base R load_path .\\q8r+L\r\nload_path .\\q8r+L\r\n",
         std::string("resname_base R load_path .\\q8r+L\r\nload_path L\r\n\r\n") + kEnd},
        {"key lines without a value", "resname_base\r\nmovie_path\r\nload_path .\\q8r+L\r\n",
         std::string("resname_base\r\nmovie_path\r\nload_path L\r\n\r\n") + kEnd},
        {"movie prefix in another list stays", "resname_base .\\q8r\\movies+R\r\nload_path .\\q8r+L\r\n",
         std::string("resname_base .\\q8r\\movies+R\r\nload_path L\r\n\r\n") + kEnd},
        {"lines after movie_path", "movie_path .\\q8r\\movies+M\r\nfog 1\r\n",
         std::string("movie_path M\r\nfog 1\r\n\r\n") + kEnd},
        {"movie_path last without a line end", "movie_path .\\q8r\\movies+M",
         std::string("movie_path M") + kEnd},
        {"end marker and what follows", std::string("load_path .\\q8r+L\r\n") + kEnd + "load_path .\\q8r+X\r\n",
         std::string("load_path L\r\n\r\n") + kEnd},
        {"other letter case stays", "Load_Path .\\q8r+L\r\nload_path .\\Q8R+L\r\nmovie_path .\\q8r+M\r\nload_path .\\q8r+L\r\n",
         std::string("Load_Path .\\q8r+L\r\nload_path .\\Q8R+L\r\nmovie_path .\\q8r+M\r\nload_path L\r\n\r\n") + kEnd},
    };
    for (const RewriteCase& c : cases) {
        game.Write("Darkinst.cfg", c.input);
        EXPECT_EQ(Run(ResetDefaultDarkinst), -1) << c.name;
        EXPECT_EQ(game.Read("Darkinst.cfg"), c.output) << c.name;
        EXPECT_EQ(game.Tree(), (Tree{"Darkinst.cfg"})) << c.name;
    }
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(ResetDefaultDarkinstTest, LeavesAFileWithoutOldPrefixesByteForByte) {
    const std::string inputs[] = {
        "install_path C:\\G\nresname_base R\nmovie_path M",
        "resname_base X+.\\q8r+\r\nmovie_path M.\\q8r\\movies+\r\n",
        std::string("resname_base C:\\G\\q8r+R\r\n") + kEnd + "resname_base .\\q8r+R\r\n",
        "resname_base",
        "",
    };
    for (const std::string& input : inputs) {
        game.Write("Darkinst.cfg", input);
        EXPECT_EQ(Run(ResetDefaultDarkinst), -1);
        EXPECT_EQ(game.Read("Darkinst.cfg"), input);
    }
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(ResetDefaultDarkinstTest, DoesNothingWithoutAReadableFile) {
    EXPECT_EQ(Run(ResetDefaultDarkinst), -1);
    EXPECT_TRUE(game.Tree().empty());

    const std::string input = "load_path .\\q8r+L\r\n" + std::string(9000, 'x');
    game.Write("Darkinst.cfg", input);
    {
        FaultyFileAccess faults(kCallRead, 2);
        EXPECT_EQ(Run(ResetDefaultDarkinst), -1);
    }
    EXPECT_EQ(game.Read("Darkinst.cfg"), input);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(ResetDefaultDarkinstTest, EndsTheProgramWhenTheFileCannotBeWritten) {
    const std::string input = "install_path C:\\G\r\nresname_base .\\q8r+R\r\nmovie_path .\\q8r\\movies+M\r\n";
    for (const WriteFault& fault : kWriteFaults) {
        game.Write("Darkinst.cfg", input);
        platform.record().boxes.clear();
        int exitCode = -1;
        {
            FaultyFileAccess faults(fault.call, fault.failAt);
            exitCode = Run(ResetDefaultDarkinst);
            EXPECT_TRUE(faults.Failed()) << FileCallName(fault.call);
        }
        EXPECT_EQ(exitCode, 1) << FileCallName(fault.call);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{fault.opened ? kBox3Replaced : kBox3}))
            << FileCallName(fault.call);
        EXPECT_EQ(game.Read("Darkinst.cfg"), input) << FileCallName(fault.call);
        EXPECT_EQ(game.Tree(), (Tree{"Darkinst.cfg"})) << FileCallName(fault.call);
    }
}

using DarkinstMigration = GameFolder;

TEST_F(DarkinstMigration, ASecondRunGivesTheSameFiles) {
    const std::string install = "install_path C:\\Games\\Thief2\r\nresname_base R\r\nload_path L\r\nmovie_path M\r\n";
    const std::string oldDarkinst =
        "install_path C:\\Games\\Thief2\r\nresname_base .\\q8r+R\r\nload_path .\\q8r+L\r\nmovie_path .\\q8r\\movies+M\r\n";
    const std::string resetDarkinst =
        std::string("install_path C:\\Games\\Thief2\r\nresname_base R\r\nload_path L\r\nmovie_path M\r\n") + kEnd;
    const std::string modDarkinst =
        std::string("install_path C:\\Games\\Thief2\r\nresname_base C:\\Games\\Thief2\\q8r+R\r\n"
                    "load_path C:\\Games\\Thief2\\q8r+L\r\nmovie_path C:\\Games\\Thief2\\q8r\\movies+M\r\n") + kEnd;
    game.Write("install.cfg", install);
    game.Write("Darkinst.cfg", oldDarkinst);
    game.MakeFolder("q8r");

    for (int run = 1; run <= 2; ++run) {
        for (void (*step)() : {ResetDefaultDarkinst, CopyConfigFiles, CreateCustomDarkinst}) {
            EXPECT_EQ(Run(step), -1) << "run " << run;
        }
        EXPECT_EQ(game.Read("Darkinst.cfg"), resetDarkinst) << "run " << run;
        EXPECT_EQ(game.Read("install.cfg"), install) << "run " << run;
        EXPECT_EQ(game.Read("q8r/Darkinst.cfg"), modDarkinst) << "run " << run;
        EXPECT_EQ(game.Tree(), (Tree{"Darkinst.cfg", "install.cfg", "q8r/", "q8r/Darkinst.cfg"})) << "run " << run;
    }
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(DarkinstMigration, AMissingInstallCfgDoesNotStopTheSequence) {
    EXPECT_EQ(RunTaskSequence(), 1);
    int box1 = 0;
    for (const RecordedBox& box : platform.record().boxes) box1 += box.text == kBox1;
    EXPECT_EQ(box1, 1);
    ASSERT_FALSE(platform.record().statuses.empty());
    EXPECT_EQ(platform.record().statuses.back(), "Task Finished.");
}

TEST_F(DarkinstMigration, AnUnwritableDefaultDarkinstEndsTheSequence) {
    const std::string input = "load_path .\\q8r+L\r\n";
    game.Write("Darkinst.cfg", input);
    game.Write("install.cfg", "install_path C:\\G\r\n");
    int exitCode = -1;
    {
        FaultyFileAccess faults(kCallOpen, 1);
        try {
            RunTaskSequence();
        } catch (const ProgramEnded& ended) {
            exitCode = ended.exitCode;
        }
    }
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(platform.record().statuses.back(), "Current Operation: Resetting default darkinst.cfg file...");
    EXPECT_EQ(game.Read("Darkinst.cfg"), input);
    EXPECT_FALSE(game.Exists("q8r/install.cfg"));
}

}  // namespace
