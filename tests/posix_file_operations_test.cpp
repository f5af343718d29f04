// What our own POSIX layer adds to the shell's behaviour: letter case on a
// case-sensitive file system, renames instead of copies, other file systems
// and links.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "file_operations.h"
#include "migration_steps.h"
#include "support/faulty_file_access.h"
#include "support/game_folder.h"
#include "support/recording_platform.h"
#include "support/scratch_folder.h"

namespace {

ino_t InodeOf(const std::filesystem::path& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(PosixFileOperations, MigrateAFolderCopiedFromWindowsInOtherLetterCase) {
    ScratchFolder game;
    game.Write("Q8R.EXE", "launcher");
    game.Write("Install.CFG", "cfg");
    game.Write("SAVES/Save_0/game.sav", "s");
    game.Write("Q8R/Books/English/Book1.str", "b");
    game.Write("Q8R/Books/BOOK1.STR", "old b");
    game.Write("Q8R/SND/Guard1/English/Line.wav", "l");
    GameRootScope root(game.RootText());

    RemoveOldLauncher();
    CopyConfigFiles();
    MoveBookFiles();
    MoveSoundFiles();

    const std::vector<std::string> expected = {
        "Install.CFG", "Q8R/", "Q8R/Books/", "Q8R/Books/BOOK1.STR", "Q8R/Books/English/", "Q8R/Install.CFG",
        "Q8R/SAVES/", "Q8R/SAVES/Save_0/", "Q8R/SAVES/Save_0/game.sav", "Q8R/SND/", "Q8R/SND/Guard1/",
        "Q8R/SND/Guard1/English/", "Q8R/SND/Guard1/Line.wav", "SAVES/", "SAVES/Save_0/", "SAVES/Save_0/game.sav",
    };
    EXPECT_EQ(game.Tree(), expected);
    EXPECT_EQ(game.Read("Q8R/Books/BOOK1.STR"), "b") << "the same name in other case is the same file";
}

TEST(PosixFileOperations, AMoveWithinOneFileSystemIsARename) {
    ScratchFolder game;
    game.Write("snd/cop1/english/big.wav", std::string(1 << 16, 'v'));
    game.Write("snd/cop1/english/set/a.wav", "a");
    const ino_t fileBefore = InodeOf(game.Root() / "snd/cop1/english/big.wav");
    const ino_t folderBefore = InodeOf(game.Root() / "snd/cop1/english/set");

    ASSERT_EQ(MoveFiles(game.PathText("snd/cop1/english/*").c_str(), game.PathText("snd/cop1").c_str()), 0);

    EXPECT_EQ(InodeOf(game.Root() / "snd/cop1/big.wav"), fileBefore);
    EXPECT_EQ(InodeOf(game.Root() / "snd/cop1/set"), folderBefore);
}

// The player's link at the target to the item itself, or a second (hard)
// name of its file there, is replaced by the item: the v1.0 folder empties,
// and no link is left to dangle once it goes.
TEST(PosixFileOperations, AMoveReplacesALinkOrSecondNameOfTheItemAtItsTarget) {
    ScratchFolder game;
    game.Write("books/english/book1.str", "b");
    game.Write("books/english/voice.wav", "v");
    ASSERT_EQ(0, symlink("english/book1.str", game.PathText("books/book1.str").c_str()));
    ASSERT_EQ(0, link(game.PathText("books/english/voice.wav").c_str(), game.PathText("books/voice.wav").c_str()));

    EXPECT_EQ(MoveFiles(game.PathText("books/english/*").c_str(), game.PathText("books").c_str()), 0);

    EXPECT_EQ(game.Tree(), (std::vector<std::string>{"books/", "books/book1.str", "books/english/", "books/voice.wav"}));
    EXPECT_FALSE(std::filesystem::is_symlink(game.Root() / "books" / "book1.str"));
    EXPECT_EQ(game.Read("books/book1.str"), "b");
    EXPECT_EQ(game.Read("books/voice.wav"), "v");
}

TEST(PosixFileOperations, AMoveToAnotherFileSystemCopiesThenDeletes) {
    if (access("/dev/shm", W_OK) != 0) GTEST_SKIP() << "no /dev/shm here";
    ScratchFolder target;
    const std::filesystem::path source = std::filesystem::path("/dev/shm") / ("q8r-move-" + std::to_string(getpid()));
    std::filesystem::create_directories(source / "set");
    struct stat a, b;
    stat("/dev/shm", &a);
    stat(target.RootText().c_str(), &b);
    if (a.st_dev == b.st_dev) {
        std::filesystem::remove_all(source);
        GTEST_SKIP() << "/dev/shm and the temporary folder share one file system";
    }
    { std::ofstream(source / "set" / "x.wav") << "x"; }
    { std::ofstream(source / "y.wav") << "y"; }

    const int result = MoveFiles((source.string() + "/*").c_str(), target.RootText().c_str());
    const bool sourceEmpty = std::filesystem::is_empty(source);
    std::filesystem::remove_all(source);

    EXPECT_EQ(result, 0);
    EXPECT_TRUE(sourceEmpty);
    EXPECT_EQ(target.Read("set/x.wav"), "x");
    EXPECT_EQ(target.Read("y.wav"), "y");
}

TEST(PosixFileOperations, NeverDeleteOrMergeThroughALink) {
    ScratchFolder outside;
    outside.Write("precious/keep.txt", "keep");
    ScratchFolder game;
    game.Write("q8r/books/english/book.str", "b");
    std::filesystem::create_directory_symlink(outside.Root() / "precious", game.Root() / "q8r" / "linked");
    std::filesystem::create_directory_symlink(outside.Root() / "precious", game.Root() / "q8r" / "books" / "english" / "more");

    EXPECT_EQ(DeleteFiles(game.PathText("q8r/linked").c_str()), 0);
    EXPECT_EQ(MoveFiles(game.PathText("q8r/books/english/*").c_str(), game.PathText("q8r/books").c_str()), 0);
    EXPECT_EQ(DeleteFiles(game.PathText("q8r/books").c_str()), 0);

    EXPECT_EQ(outside.Read("precious/keep.txt"), "keep");
    EXPECT_EQ(outside.Tree(), (std::vector<std::string>{"precious/", "precious/keep.txt"}));
    EXPECT_FALSE(game.Exists("q8r/linked"));
}

// Folders the player keeps elsewhere behind links are used as on Windows:
// items move and copy through them, a linked item that a copy names is
// copied as what it names, links further down stay links, and copied
// folders are made with the default mode, not the source's.
TEST(PosixFileOperations, FollowsThePlayersFolderLinks) {
    ScratchFolder outside;
    outside.Write("guard1/english/line.wav", "voice");
    outside.MakeFolder("elsewhere");
    outside.Write("sub/kept.str", "k");
    outside.Write("big.dat", "outside");
    ScratchFolder game;
    game.Write("cam.cfg", "cam");
    game.Write("realsaves/game.sav", "s");
    game.Write("q8r/books/english/sub/page.str", "p");
    game.MakeFolder("q8r/snd");
    std::filesystem::create_directory_symlink(outside.Root() / "guard1", game.Root() / "q8r" / "snd" / "guard1");
    std::filesystem::create_directory_symlink(outside.Root() / "elsewhere", game.Root() / "linked-out");
    std::filesystem::create_directory_symlink(outside.Root() / "sub", game.Root() / "q8r" / "books" / "sub");
    std::filesystem::create_directory_symlink("realsaves", game.Root() / "saves");
    std::filesystem::create_symlink(outside.Root() / "big.dat", game.Root() / "realsaves" / "link.sav");
    chmod(game.PathText("realsaves").c_str(), 0555);
    WorkingDirectoryScope cwd(game.Root());
    GameRootScope root(game.RootText());

    MoveSoundFiles();
    EXPECT_EQ(CopyFiles(game.PathText("cam.cfg").c_str(), game.PathText("linked-out").c_str()), 0);
    EXPECT_EQ(MoveFiles(game.PathText("q8r/books/english/*").c_str(), game.PathText("q8r/books").c_str()), 0);
    EXPECT_EQ(CopyFiles(game.PathText("saves").c_str(), game.PathText("q8r").c_str()), 0);
    chmod(game.PathText("realsaves").c_str(), 0755);

    EXPECT_EQ(outside.Tree(), (std::vector<std::string>{"big.dat", "elsewhere/", "elsewhere/cam.cfg", "guard1/",
                                                        "guard1/english/", "guard1/line.wav", "sub/", "sub/kept.str",
                                                        "sub/page.str"}));
    EXPECT_TRUE(game.IsFolder("q8r/saves") && !std::filesystem::is_symlink(game.Root() / "q8r" / "saves"));
    EXPECT_EQ(game.Read("q8r/saves/game.sav"), "s");
    EXPECT_TRUE(std::filesystem::is_symlink(game.Root() / "q8r" / "saves" / "link.sav"));
    const mode_t mask = umask(0);
    umask(mask);
    struct stat made;
    ASSERT_EQ(stat(game.PathText("q8r/saves").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0777 & ~mask);
}

mode_t ModeOf(const ScratchFolder& folder, const std::string& relative) {
    struct stat info;
    return stat(folder.PathText(relative).c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A copy carries its source's permission bits, to a new target or over an
// old one, as CopyFile carries attributes: a private file stays private. A
// link at the target's name is replaced, as a move replaces it, and the file
// it names is never written. A copy whose write, flush or buffer fails
// reports it and leaves nothing behind.
TEST(PosixFileOperations, ACopyCarriesItsModeReplacesALinkAtItsNameAndReportsAFailure) {
    ScratchFolder outside;
    outside.Write("elsewhere.cfg", "not the game's");
    ScratchFolder game;
    game.Write("user.cfg", "private");
    game.Write("cam.cfg", "cam");
    game.Write("install.cfg", "read-only");
    game.Write("q8r/cam.cfg", "old cam");
    ASSERT_EQ(0, chmod(game.PathText("user.cfg").c_str(), 0600));
    ASSERT_EQ(0, chmod(game.PathText("cam.cfg").c_str(), 0640));
    ASSERT_EQ(0, chmod(game.PathText("install.cfg").c_str(), 0444));
    ASSERT_EQ(0, chmod(game.PathText("q8r/cam.cfg").c_str(), 0666));
    ASSERT_EQ(0, symlink(outside.PathText("elsewhere.cfg").c_str(), game.PathText("q8r/install.cfg").c_str()));

    for (const char* item : {"user.cfg", "cam.cfg", "install.cfg"}) {
        EXPECT_EQ(CopyFiles(game.PathText(item).c_str(), game.PathText("q8r").c_str()), 0) << item;
    }

    EXPECT_EQ(ModeOf(game, "q8r/user.cfg"), 0600u);
    EXPECT_EQ(ModeOf(game, "q8r/cam.cfg"), 0640u);
    EXPECT_EQ(ModeOf(game, "q8r/install.cfg"), 0444u);
    EXPECT_FALSE(std::filesystem::is_symlink(game.Root() / "q8r" / "install.cfg"));
    EXPECT_EQ(game.Read("q8r/install.cfg"), "read-only");
    EXPECT_EQ(outside.Read("elsewhere.cfg"), "not the game's");

    const struct {
        FileCall call;
        int failAt;
    } faults[] = {{kCallWrite, 1}, {kCallFlush, 1}, {kCallOpen, 1}, {kCallReplace, 1}};
    for (const auto& fault : faults) {
        game.Write("save.sav", "a saved game");
        {
            FaultyFileAccess faulty(fault.call, fault.failAt);
            EXPECT_NE(CopyFiles(game.PathText("save.sav").c_str(), game.PathText("q8r").c_str()), 0)
                << FileCallName(fault.call);
        }
        EXPECT_FALSE(game.Exists("q8r/save.sav")) << FileCallName(fault.call);
        EXPECT_FALSE(game.Exists("q8r/save.sav.q8r-copy")) << FileCallName(fault.call);
    }
    {
        PlatformScope noMemory(WithAllocator([](size_t) -> void* { return nullptr; }));
        EXPECT_NE(CopyFiles(game.PathText("save.sav").c_str(), game.PathText("q8r").c_str()), 0);
    }
    EXPECT_FALSE(game.Exists("q8r/save.sav.q8r-copy"));
}

struct Owned {
    uid_t owner;
    gid_t group;
    mode_t mode;
};

Owned OwnerOf(const ScratchFolder& folder, const std::string& relative) {
    struct stat info;
    if (stat(folder.PathText(relative).c_str(), &info) != 0) return {0, 0, 0};
    return {info.st_uid, info.st_gid, info.st_mode & 07777};
}

// A copy as root keeps its source's owner and group, so a player's saves
// stay the player's; set-ID bits go with them only where both were carried,
// and a group not carried gets what everyone had: no copy runs with rights
// its source did not give, nor opens a file to a group it was closed to.
TEST(PosixFileOperations, ACopyHandsOnNoPrivilege) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give files to another user";
    const uid_t player = 65534;
    ScratchFolder game;
    const struct {
        const char* name;
        uid_t owner;
        mode_t mode;
        bool byPlayer;
        Owned expected;
    } cases[] = {
        {"suid.exe", player, 04755, false, {player, player, 04755}},
        {"private.sav", player, 0600, false, {player, player, 0600}},
        {"sgid.exe", 0, 02750, false, {0, 0, 02750}},
        {"rootsuid.exe", 0, 06755, true, {player, player, 0755}},
        {"rootgroup.cfg", 0, 0664, true, {player, player, 0644}},
    };
    game.MakeFolder("q8r");
    ASSERT_EQ(0, chmod(game.RootText().c_str(), 0755));
    ASSERT_EQ(0, chmod(game.PathText("q8r").c_str(), 0777));
    for (const auto& item : cases) {
        game.Write(item.name, "bytes");
        ASSERT_EQ(0, chown(game.PathText(item.name).c_str(), item.owner, item.owner));
        ASSERT_EQ(0, chmod(game.PathText(item.name).c_str(), item.mode));
        if (!item.byPlayer) {
            EXPECT_EQ(CopyFiles(game.PathText(item.name).c_str(), game.PathText("q8r").c_str()), 0) << item.name;
            continue;
        }
        const pid_t child = fork();
        if (child == 0) {
            const bool dropped = setgroups(0, nullptr) == 0 && setresgid(player, player, player) == 0 &&
                                 setresuid(player, player, player) == 0;
            _exit(dropped ? CopyFiles(game.PathText(item.name).c_str(), game.PathText("q8r").c_str()) : 99);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << item.name;
    }
    for (const auto& item : cases) {
        const Owned made = OwnerOf(game, std::string("q8r/") + item.name);
        EXPECT_EQ(made.owner, item.expected.owner) << item.name;
        EXPECT_EQ(made.group, item.expected.group) << item.name;
        EXPECT_EQ(made.mode, item.expected.mode) << std::oct << item.name << " " << made.mode;
    }
}

// Names read from a folder are bytes: a backslash or a byte outside ASCII in
// one is part of the name, never a separator.
TEST(PosixOddNames, ItemsMoveAndCopyUnderTheNamesReadFromTheirFolder) {
    ScratchFolder game;
    game.Write("books/english/intro\\page2.str", "p");
    game.Write("books/english/x\\y.str", "x");
    game.Write("books/english/Brief an M\xfc" "ller.str", "l");
    game.MakeFolder("books/intro");
    game.Write("saves/game0000\\file.sav", "s");
    game.MakeFolder("q8r");

    EXPECT_EQ(MoveFiles(game.PathText("books/english/*").c_str(), game.PathText("books").c_str()), 0);
    EXPECT_EQ(CopyFiles(game.PathText("saves").c_str(), game.PathText("q8r").c_str()), 0);

    const std::vector<std::string> expected = {
        "books/", "books/Brief an M\xfc" "ller.str", "books/english/", "books/intro/", "books/intro\\page2.str",
        "books/x\\y.str", "q8r/", "q8r/saves/", "q8r/saves/game0000\\file.sav", "saves/", "saves/game0000\\file.sav",
    };
    EXPECT_EQ(game.Tree(), expected);
}


}  // namespace
