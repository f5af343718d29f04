#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch_game.h"
#include "printable_text.h"
#include "shell_start.h"
#include "support/faulty_file_access.h"
#include "support/recording_platform.h"
#include "support/scratch_folder.h"
#include "window_layout.h"

namespace {

using namespace std::string_literals;

// Puts the recording fake under the shell for one test and runs it in a
// folder of its own, as the launcher runs in the game root.
class LaunchGameTest : public ::testing::Test {
protected:
    LaunchGameTest() : cwd_(game_.Root()) {}

    ScratchFolder game_;
    WorkingDirectoryScope cwd_;
    RecordingPlatform platform_;
    std::vector<RecordedShellRequest>& recorded_ = platform_.record().shellRequests;
};

struct PathCase {
    const char* name;
    std::string config;
    std::string expected;
};

TEST_F(LaunchGameTest, GameExecutablePathFollowsTheReadingRules) {
    const std::vector<PathCase> cases = {
        {"crlf line ends", "install_path C:\\Games\\Thief2\r\nlanguage english\r\n",
         "C:\\Games\\Thief2\\thief2.exe"},
        {"lf line ends", "install_path C:\\Games\\Thief2\nlanguage english\n", "C:\\Games\\Thief2\\thief2.exe"},
        {"trailing backslash kept", "install_path C:\\Games\\Thief2\\\r\n", "C:\\Games\\Thief2\\\\thief2.exe"},
        {"trailing blanks kept", "install_path C:\\Games\\Thief2  \r\n", "C:\\Games\\Thief2  \\thief2.exe"},
        {"two blanks: the second belongs to the value", "install_path  C:\\T2\r\n", " C:\\T2\\thief2.exe"},
        {"any separator is skipped", "install_path\tC:\\T2\r\n", "C:\\T2\\thief2.exe"},
        {"quotes kept", "install_path \"C:\\T2\"\r\n", "\"C:\\T2\"\\thief2.exe"},
        {"last key line wins", "install_path C:\\First\r\ninstall_path D:\\Second\r\n", "D:\\Second\\thief2.exe"},
        {"key behind a comment: position 13 lies inside the key", "; install_path C:\\Games\\Thief2\r\n",
         "h C:\\Games\\Thief2\\thief2.exe"},
        {"other letter case is no key", "Install_Path C:\\Games\\Thief2\r\n", ""},
        {"no key line", "resname_base .\\q8r+res\r\n", ""},
        {"empty file", "", ""},
        {"last line without line end", "language english\r\ninstall_path C:\\T2", "C:\\T2\\thief2.exe"},
        {"end marker after the last line", "install_path C:\\T2\r\n\x1a", "C:\\T2\\thief2.exe"},
        {"key line after the end marker not seen", "install_path C:\\T2\r\n\x1ainstall_path D:\\X\r\n",
         "C:\\T2\\thief2.exe"},
        {"end marker before any key line", "\x1ainstall_path C:\\T2\r\n", ""},
        {"line of 13 bytes: empty value", "install_path \r\n", "\\thief2.exe"},
        {"key alone, 12 bytes, read as an empty value", "install_path\r\n", "\\thief2.exe"},
        {"key alone replaces an earlier path", "install_path C:\\T2\r\ninstall_path", "\\thief2.exe"},
        {"CR inside a line stays", "install_path C:\\T\r2\r\n", "C:\\T\r2\\thief2.exe"},
        {"key inside a longer word", "xinstall_path C:\\T2\r\n", " C:\\T2\\thief2.exe"},
        {"a zero byte ends the value", "install_path /x/evil.sh\0 more\r\n"s,
         "/x/evil.sh\\thief2.exe"},
    };
    for (const PathCase& c : cases) {
        game_.Write("Darkinst.cfg", c.config);
        EXPECT_EQ(GameExecutablePath(), c.expected) << c.name;
    }
}

TEST_F(LaunchGameTest, MissingConfigGivesAnEmptyFileName) {
    EXPECT_EQ(GameExecutablePath(), "");
    LaunchGame(kModWorkingDirectory);
    ASSERT_EQ(recorded_.size(), 1u);
    EXPECT_EQ(recorded_[0].file, "");
    EXPECT_EQ(recorded_[0].directory, ".//q8r");
}

TEST_F(LaunchGameTest, EachButtonMakesOneOpenRequestInItsWorkingDirectory) {
    game_.Write("Darkinst.cfg", "install_path C:\\Games\\Thief2\r\n");
    const struct {
        int controlId;
        const char* directory;
    } buttons[] = {{IDC_PLAY_Q8R, ".//q8r"}, {IDC_PLAY_THIEF2, ".."}};
    for (const auto& button : buttons) {
        recorded_.clear();
        const char* directory = LaunchDirectoryFor(button.controlId);
        ASSERT_NE(directory, nullptr) << button.controlId;
        LaunchGame(directory);
        ASSERT_EQ(recorded_.size(), 1u) << button.controlId;
        const RecordedShellRequest& request = recorded_[0];
        EXPECT_EQ(request.verb, "Open");
        EXPECT_EQ(request.file, "C:\\Games\\Thief2\\thief2.exe");
        EXPECT_FALSE(request.hasParameters);
        EXPECT_EQ(request.directory, button.directory);
        EXPECT_EQ(request.showCommand, 1);
    }
}

TEST(PrintableText, EscapesWhatCouldSteerATerminal) {
    const struct {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"C:\\Spiel f\xc3\xbcr Diebe \xe2\x98\x83", "C:\\Spiel f\xc3\xbcr Diebe \xe2\x98\x83"},
        {"\x1b]0;title\x07\x1b[2J", "\\x1b]0;title\\x07\\x1b[2J"},
        {"a\x7f\r\nb", "a\\x7f\\x0d\\x0ab"},
        {"\x9b" "31m \xc2\x9b" "31m", "\\x9b31m \\xc2\\x9b31m"},
        {"Latin-1 \xfc, cut \xe2\x98", "Latin-1 \\xfc, cut \\xe2\\x98"},
        {"zero\0byte"s, "zero\\x00byte"},
    };
    for (const auto& c : cases) EXPECT_EQ(PrintableText(c.bytes), c.shown) << c.shown;
}

TEST(LaunchBindings, OnlyTheTwoButtonsLaunch) {
    for (int id : {0, 1, 2, 300, 303, 108, 201, IDC_PLAY_Q8R + 0x10000, -1}) {
        EXPECT_EQ(LaunchDirectoryFor(id), nullptr) << id;
    }
    EXPECT_STREQ(LaunchDirectoryFor(301), ".//q8r");
    EXPECT_STREQ(LaunchDirectoryFor(302), "..");
}

TEST_F(LaunchGameTest, AReadErrorKeepsThePathFoundSoFar) {
    game_.Write("Darkinst.cfg", "install_path C:\\T2\r\n" + std::string(9000, ';'));
    FaultyFileAccess faults(kCallRead, 2);
    EXPECT_EQ(GameExecutablePath(), "C:\\T2\\thief2.exe");
    EXPECT_TRUE(faults.Failed());
}

TEST_F(LaunchGameTest, ReadsTheConfigOfTheCurrentFolderOnly) {
    game_.Write("q8r/Darkinst.cfg", "install_path C:\\Mod\r\n");
    game_.Write("Darkinst.cfg", "install_path C:\\Root\r\n");
    EXPECT_EQ(GameExecutablePath(), "C:\\Root\\thief2.exe");
}

TEST_F(LaunchGameTest, FindsTheConfigWhateverItsLetterCase) {
    game_.Write("DARKINST.CFG", "install_path C:\\Upper\r\n");
    EXPECT_EQ(GameExecutablePath(), "C:\\Upper\\thief2.exe");
}

}  // namespace

namespace {

TEST(WindowLayout, CentresByShiftingAndNeverClamps) {
    const struct {
        int screenWidth, screenHeight, left, top;
    } cases[] = {
        {1024, 768, 315, 194},  // the common case
        {1365, 768, 485, 194},  // an odd width loses its half pixel
        {320, 200, -37, -90},   // a screen smaller than the window
        {0, 0, -197, -190},
        {-1, -1, -198, -191},   // an arithmetic shift rounds down
    };
    for (const auto& c : cases) {
        const WindowOrigin origin = CentredWindowOrigin(c.screenWidth, c.screenHeight);
        EXPECT_EQ(origin.left, c.left) << c.screenWidth;
        EXPECT_EQ(origin.top, c.top) << c.screenHeight;
    }
    EXPECT_STREQ(kLauncherTitle, "Q8R: Gloamspire  v1.1");
}

}  // namespace
