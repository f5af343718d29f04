#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "launch_game.h"
#include "posix_console_window.h"
#include "posix_shell_start.h"
#include "shell_start.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

void WriteScript(const ScratchFolder& folder, const std::string& relative, const std::string& body) {
    folder.Write(relative, "#!/bin/sh\n" + body);
    chmod(folder.PathText(relative).c_str(), 0755);
}

// The started program writes `relative` when it is done; polls for it.
std::string AwaitFile(const ScratchFolder& folder, const std::string& relative) {
    for (int i = 0; i < 4800 && !folder.Exists(relative); ++i) usleep(25000);
    return folder.Exists(relative) ? folder.Read(relative) : "<never written>";
}

bool SameFolder(const std::string& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

// Sets an environment variable for one test and puts it back afterwards.
class EnvironmentScope {
public:
    EnvironmentScope(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) previous_ = old;
        if (value) setenv(name, value->c_str(), 1); else unsetenv(name);
    }
    ~EnvironmentScope() {
        if (previous_) setenv(name_, previous_->c_str(), 1); else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

// A game folder with a Wine prefix whose drive C: holds the game, and a
// fake wine in a folder of its own that records how it was started.
class WineLayout : public ::testing::Test {
protected:
    WineLayout() {
        game_.MakeFolder("drive_c/GAMES/thief2");
        game_.Write("drive_c/GAMES/thief2/THIEF2.EXE", "MZ");
        game_.MakeFolder("drive_c/GAMES/thief2/Q8R");
        game_.MakeFolder("prefix/dosdevices");
        fs::create_directory_symlink(game_.Root() / "drive_c", game_.Root() / "prefix/dosdevices/c:");
        WriteScript(game_, "bin/wine",
                    "{ pwd; echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; } > \"$WINE_RECORD.tmp\"\n"
                    "mv \"$WINE_RECORD.tmp\" \"$WINE_RECORD\"\n");
        environment_.searchPath = "/nonexistent:" + game_.PathText("bin") + ":/usr/bin:/bin";
        environment_.winePrefix = game_.PathText("prefix");
        environment_.workingDirectory = game_.PathText("drive_c/GAMES/thief2");
    }

    std::string Unix(const std::string& relative) const { return game_.PathText(relative); }

    ScratchFolder game_;
    LaunchEnvironment environment_;
};

TEST(WindowsProgram, IsToldByDriveLetterOrExeName) {
    const struct {
        const char* file;
        bool drive;
        bool windows;
    } cases[] = {
        {"C:\\Games\\Thief2\\thief2.exe", true, true}, {"c:/games/x", true, true},
        {"Z:", true, true},                            {"Thief2\\THIEF2.EXE", false, true},
        {"/usr/games/thief2.Exe", false, true},        {"/usr/bin/game", false, false},
        {"1:\\x", false, false},                       {"", false, false},
        {"C", false, false},                           {"exe", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HasDriveLetter(c.file), c.drive) << c.file;
        EXPECT_EQ(IsWindowsProgram(c.file), c.windows) << c.file;
    }
}

TEST_F(WineLayout, DrivePathsGoThroughThePrefixAndWine) {
    const struct {
        const char* file;
        const char* directory;
        const char* expectedDirectory;
    } cases[] = {
        {"C:\\Games\\Thief2\\thief2.exe", ".//q8r", "drive_c/GAMES/thief2/Q8R"},
        {"c:/games/THIEF2/thief2.exe", "..", "drive_c/GAMES"},
        {"C:\\Games\\Thief2\\thief2.exe", "C:\\Games", "drive_c/GAMES"},
        {"C:\\Games\\Thief2\\thief2.exe", "", "drive_c/GAMES/thief2"},
    };
    for (const auto& c : cases) {
        const LaunchPlan plan = PlanLaunch(c.file, nullptr, c.directory, environment_);
        ASSERT_EQ(plan.result, kStartedProgram) << c.file << " " << plan.reason;
        ASSERT_EQ(plan.arguments.size(), 2u) << c.file;
        EXPECT_EQ(plan.arguments[0], Unix("bin/wine"));
        EXPECT_EQ(plan.arguments[1], Unix("prefix/dosdevices/c:/GAMES/thief2/THIEF2.EXE"));
        EXPECT_TRUE(SameFolder(plan.directory, game_.Root() / c.expectedDirectory))
            << c.directory << " became " << plan.directory;
    }
}

// Without wine on the PATH, the newest Proton of the Steam libraries runs the
// game, with a compat-data folder of its own unless WINEPREFIX names a
// Proton prefix; a prefix Proton has yet to make maps only Z:.
TEST_F(WineLayout, WithoutWineProtonOfASteamLibraryRunsTheGame) {
    const std::string home = Unix("home");
    WriteScript(game_, "home/.local/share/Steam/steamapps/common/Proton 9.0/proton", "exit 0\n");
    WriteScript(game_, "library/steamapps/common/Proton 10.0/proton", "exit 0\n");
    WriteScript(game_, "library/steamapps/common/Thief 2/proton", "exit 0\n");  // not a Proton
    game_.Write("home/.local/share/Steam/steamapps/libraryfolders.vdf",
                "\"libraryfolders\"\n{\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + Unix("library") + "\"\n\t}\n}\n");
    const std::string proton10 = Unix("library/steamapps/common/Proton 10.0/proton");

    LaunchEnvironment own = environment_;
    own.searchPath = "/nonexistent";
    own.home = home;
    own.winePrefix = home + "/.wine";
    LaunchEnvironment protonPrefix = own;
    protonPrefix.winePrefix = Unix("compatdata/pfx");
    protonPrefix.winePrefixGiven = true;
    game_.MakeFolder("compatdata/pfx/dosdevices");
    fs::create_directory_symlink(game_.Root() / "drive_c", game_.Root() / "compatdata/pfx/dosdevices/c:");
    const std::string zPath = "Z:" + Unix("drive_c/GAMES/thief2/THIEF2.EXE");
    const struct {
        const char* name;
        const std::string file;
        const LaunchEnvironment* environment;
        std::string compatData;
    } cases[] = {
        {"a Z: path in a prefix of our own", zPath, &own, home + "/.local/share/q8r/proton"},
        {"a C: path in the player's Proton prefix", "C:\\Games\\Thief2\\thief2.exe", &protonPrefix,
         Unix("compatdata")},
    };
    for (const auto& c : cases) {
        const LaunchPlan plan = PlanLaunch(c.file.c_str(), nullptr, ".//q8r", *c.environment);
        ASSERT_EQ(plan.result, kStartedProgram) << c.name << ": " << plan.reason;
        ASSERT_EQ(plan.arguments.size(), 3u) << c.name;
        EXPECT_EQ(plan.arguments[0], proton10) << c.name;
        EXPECT_EQ(plan.arguments[1], "run") << c.name;
        EXPECT_TRUE(SameFolder(plan.directory, game_.Root() / "drive_c/GAMES/thief2/Q8R")) << c.name;
        EXPECT_EQ(plan.variables, (std::vector<std::string>{"STEAM_COMPAT_DATA_PATH=" + c.compatData,
                                                             "STEAM_COMPAT_CLIENT_INSTALL_PATH=" + home +
                                                                 "/.local/share/Steam"}))
            << c.name;
        EXPECT_EQ(plan.folderToMake, c.compatData) << c.name;
    }

    LaunchEnvironment nothing = own;
    nothing.home = Unix("empty-home");
    const LaunchPlan refused = PlanLaunch("C:\\Games\\Thief2\\thief2.exe", nullptr, ".", nothing);
    EXPECT_EQ(refused.result, kNoAssociation);
    EXPECT_NE(refused.reason.find("non-Steam game"), std::string::npos) << refused.reason;
}

TEST_F(WineLayout, PathsWithoutADriveAreOurOwn) {
    const LaunchPlan plan = PlanLaunch("Thief2.exe", "-x", ".", environment_);
    ASSERT_EQ(plan.result, kStartedProgram) << plan.reason;
    EXPECT_EQ(plan.arguments, (std::vector<std::string>{Unix("bin/wine"), Unix("drive_c/GAMES/thief2/THIEF2.EXE"), "-x"}));

    WriteScript(game_, "native/game", "exit 0\n");
    const LaunchPlan native = PlanLaunch(Unix("native/game").c_str(), nullptr, "..", environment_);
    ASSERT_EQ(native.result, kStartedProgram) << native.reason;
    EXPECT_EQ(native.arguments, std::vector<std::string>{Unix("native/game")});
}

TEST_F(WineLayout, SaysWhyWhenItCannotStart) {
    game_.Write("plain.txt", "not a program");
    const std::string plainText = game_.PathText("plain.txt");
    LaunchEnvironment noWine = environment_;
    noWine.searchPath = "/nonexistent";
    LaunchEnvironment noPrefix = environment_;
    noPrefix.winePrefix = Unix("no-such-prefix");
    // A wine in the folder the launcher runs in is never taken for the real one.
    WriteScript(game_, "wine", "exit 0\n");
    WorkingDirectoryScope cwd(game_.Root());
    LaunchEnvironment emptyElement = environment_;
    emptyElement.searchPath = "/nonexistent::";
    LaunchEnvironment relativeElements = environment_;
    relativeElements.searchPath = ".:bin";
    LaunchEnvironment backslashFolder = environment_;
    backslashFolder.workingDirectory += "\\x";
    const struct {
        const char* name;
        const char* file;
        const char* directory;
        const LaunchEnvironment* environment;
        long result;
        const char* reasonHolds;
    } cases[] = {
        {"no install_path", "", ".", &environment_, kFileNotFound, "install_path"},
        {"no game there", "C:\\Games\\Thief3\\thief2.exe", ".", &environment_, kFileNotFound, "Thief3"},
        {"no such working directory", "C:\\Games\\Thief2\\thief2.exe", ".//mod", &environment_, kPathNotFound,
         "mod"},
        {"no wine", "C:\\Games\\Thief2\\thief2.exe", ".", &noWine, kNoAssociation, "wine"},
        {"no prefix", "C:\\Games\\Thief2\\thief2.exe", ".", &noPrefix, kPathNotFound, "no-such-prefix"},
        {"no drive D:", "D:\\Games\\thief2.exe", ".", &environment_, kPathNotFound, "D:"},
        {"not runnable", plainText.c_str(), ".", &environment_, kNoAssociation, "plain.txt"},
        {"wine only in the current folder", "C:\\Games\\Thief2\\thief2.exe", ".", &emptyElement, kNoAssociation, "wine"},
        {"wine only in relative folders", "C:\\Games\\Thief2\\thief2.exe", ".", &relativeElements, kNoAssociation,
         "wine"},
        {"a backslash in the folder's path", "C:\\Games\\Thief2\\thief2.exe", ".//q8r", &backslashFolder,
         kPathNotFound, "backslash"},
    };
    for (const auto& c : cases) {
        const LaunchPlan plan = PlanLaunch(c.file, nullptr, c.directory, *c.environment);
        EXPECT_EQ(plan.result, c.result) << c.name;
        EXPECT_NE(plan.reason.find(c.reasonHolds), std::string::npos) << c.name << ": " << plan.reason;
        EXPECT_TRUE(plan.arguments.empty()) << c.name;
    }
}

TEST(LaunchEnvironment, WithoutPathTheSystemsSearchPathIsUsed) {
    EnvironmentScope path("PATH", std::nullopt);
    const std::string searchPath = CurrentLaunchEnvironment().searchPath;
    EXPECT_EQ(searchPath.rfind("/", 0), 0u) << searchPath;
    EXPECT_EQ(searchPath.find("::"), std::string::npos) << searchPath;
}

TEST(StartDetached, StartsInTheFolderWithArgumentsAsTheyAreAndDoesNotWait) {
    ScratchFolder folder;
    folder.MakeFolder("work");
    // The script holds on until the test lets it go, so the start cannot
    // have waited for it to end.
    WriteScript(folder, "script",
                "while [ ! -e ../go ]; do sleep 0.05; done\n"
                "{ pwd; echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; } > ../record.tmp\n"
                "mv ../record.tmp ../record\n");
    const std::string tricky = "a  b; touch pwned $(touch pwned2) 'q' \"x\" *";
    LaunchPlan plan;
    plan.result = kStartedProgram;
    plan.arguments = {folder.PathText("script"), tricky, ""};
    plan.directory = folder.PathText("work");

    EXPECT_EQ(StartDetached(plan), kStartedProgram);
    EXPECT_FALSE(folder.Exists("record"));
    folder.Write("go", "");
    const std::string record = AwaitFile(folder, "record");
    EXPECT_EQ(record, folder.PathText("work") + "\n2\n[" + tricky + "]\n[]\n");
    EXPECT_FALSE(folder.Exists("work/pwned"));
    EXPECT_FALSE(folder.Exists("work/pwned2"));
}

TEST(StartDetached, ReportsAProgramThatCannotRun) {
    ScratchFolder folder;
    LaunchPlan plan;
    plan.arguments = {folder.PathText("missing")};
    plan.directory = folder.RootText();
    EXPECT_EQ(StartDetached(plan), kFileNotFound);
    plan.arguments = {"/bin/true"};
    plan.directory = folder.PathText("gone");
    EXPECT_EQ(StartDetached(plan), kPathNotFound);
    folder.Write("data", "");
    plan.arguments = {folder.PathText("data")};
    plan.directory = folder.RootText();
    EXPECT_EQ(StartDetached(plan), kCouldNotStart);
}

TEST_F(WineLayout, LaunchGameStartsTheGameThroughWineInTheModFolder) {
    game_.Write("drive_c/GAMES/thief2/darkinst.cfg", "install_path C:\\Games\\Thief2\r\n");
    EnvironmentScope path("PATH", environment_.searchPath);
    EnvironmentScope prefix("WINEPREFIX", environment_.winePrefix);
    EnvironmentScope record("WINE_RECORD", Unix("wine-record"));
    WorkingDirectoryScope cwd(game_.Root() / "drive_c/GAMES/thief2");

    const struct {
        const char* directory;
        const char* expected;
    } buttons[] = {{kModWorkingDirectory, "drive_c/GAMES/thief2/Q8R"}, {kParentWorkingDirectory, "drive_c/GAMES"}};
    for (const auto& button : buttons) {
        fs::remove(game_.Root() / "wine-record");
        testing::internal::CaptureStdout();
        LaunchGame(button.directory);
        // On a terminal the player is told what starts.
        EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Starting " + Unix("bin/wine") + " " +
                                                                   Unix("prefix/dosdevices/c:/GAMES/thief2/THIEF2.EXE") + " in ",
                                                               0),
                  0u)
            << button.directory;
        const std::string got = AwaitFile(game_, "wine-record");
        const std::string firstLine = got.substr(0, got.find('\n'));
        EXPECT_TRUE(SameFolder(firstLine, game_.Root() / button.expected)) << button.directory << ": " << got;
        EXPECT_EQ(got.substr(got.find('\n') + 1),
                  "1\n[" + Unix("prefix/dosdevices/c:/GAMES/thief2/THIEF2.EXE") + "]\n")
            << button.directory;
    }
}

TEST(ConsoleChoice, KeysAndLinesPickAButtonOrQuit) {
    const struct {
        const char* input;
        LauncherChoice choice;
    } lines[] = {
        {"1", kChoicePlayQ8r},     {" p ", kChoicePlayQ8r},       {"Play Q8R", kChoicePlayQ8r},
        {"2", kChoicePlayThief2},  {"T", kChoicePlayThief2},      {"play thief2\r", kChoicePlayThief2},
        {"q", kChoiceQuit},        {"QUIT", kChoiceQuit},         {"", kChoiceNone},
        {"3", kChoiceNone},        {"12", kChoiceNone},           {"play", kChoiceNone},
    };
    for (const auto& c : lines) EXPECT_EQ(ChoiceForLine(c.input), c.choice) << "[" << c.input << "]";
    EXPECT_EQ(ChoiceForKey('\x1b'), kChoiceQuit);
    EXPECT_EQ(ChoiceForKey('x'), kChoiceNone);
    EXPECT_EQ(ControlForChoice(kChoicePlayQ8r), IDC_PLAY_Q8R);
    EXPECT_EQ(ControlForChoice(kChoicePlayThief2), IDC_PLAY_THIEF2);
    EXPECT_EQ(ControlForChoice(kChoiceQuit), 0);
    EXPECT_EQ(LaunchDirectoryFor(ControlForChoice(kChoiceQuit)), nullptr);
}

// The key prompt puts the terminal back however it ends: by Ctrl+C, which
// must not end the program with echo off, or by a signal from elsewhere.
TEST(ConsoleChoice, TheTerminalIsRestoredOnEveryWayOut) {
    const struct {
        const char* name;
        int signalNumber;  // 0: type Ctrl+C
        int status;        // as waitpid reports it
    } cases[] = {{"Ctrl+C", 0, kChoiceQuit << 8}, {"SIGTERM", SIGTERM, SIGTERM}, {"SIGHUP", SIGHUP, SIGHUP}};
    for (const auto& c : cases) {
        int master = -1, slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
            dup2(slave, STDIN_FILENO);
            _exit(AskLauncherChoice(stdin, stdout));
        }
        termios mode{};
        for (int i = 0; i < 12000 && tcgetattr(slave, &mode) == 0 && (mode.c_lflag & ECHO); ++i) usleep(10000);
        EXPECT_FALSE(mode.c_lflag & ECHO) << c.name << ": the prompt never made the terminal raw";
        if (c.signalNumber) kill(child, c.signalNumber); else EXPECT_EQ(write(master, "\x03", 1), 1);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(status, c.status) << c.name;
        ASSERT_EQ(tcgetattr(slave, &mode), 0);
        EXPECT_TRUE((mode.c_lflag & (ECHO | ICANON | ISIG)) == (ECHO | ICANON | ISIG)) << c.name;
        close(master);
        close(slave);
    }
}

TEST(ConsoleChoice, ReadsLinesUntilOneMeansSomething) {
    ScratchFolder folder;
    folder.Write("in", "\nwhat\n  2  \n1\n");
    folder.Write("empty", "");
    FILE* in = std::fopen(folder.PathText("in").c_str(), "rb");
    FILE* empty = std::fopen(folder.PathText("empty").c_str(), "rb");
    FILE* out = std::fopen(folder.PathText("out").c_str(), "wb");
    ASSERT_TRUE(in && empty && out);
    EXPECT_EQ(AskLauncherChoice(in, out), kChoicePlayThief2);
    EXPECT_EQ(AskLauncherChoice(in, out), kChoicePlayQ8r);
    EXPECT_EQ(AskLauncherChoice(in, out), kChoiceQuit);  // the input has ended
    EXPECT_EQ(AskLauncherChoice(empty, out), kChoiceQuit);
    std::fclose(in);
    std::fclose(empty);
    std::fclose(out);
}

}  // namespace
