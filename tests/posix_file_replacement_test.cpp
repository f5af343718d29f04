// What a replaced file keeps on POSIX: the player's link stays a link and
// the file it names gets the new content, the mode and owner stay, a stale
// side name of any kind gives way (a folder excepted), and a link planted at
// a side file's name is never written through.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install_config.h"
#include "support/faulty_file_access.h"
#include "support/scratch_folder.h"

namespace {

const char* const kNewText = "new content\r\n\x1A";

// The folder that holds the linked file has a backslash in its name, which
// must never be read as a separator once the link is followed: "a/b" is a
// decoy.
TEST(PosixReplacement, KeepsThePlayersLinkModeAndOwnerAndNeverWritesThroughASideFileLink) {
    ScratchFolder elsewhere;
    ScratchFolder game;
    elsewhere.Write("a\\b/real.cfg", "old content");
    elsewhere.Write("a/b/real.cfg", "decoy");
    elsewhere.Write("victim.sav", "a saved game");
    const std::string real = elsewhere.PathText("a\\b/real.cfg");
    ASSERT_EQ(0, chmod(real.c_str(), 0640));
    // Root can give the file another owner, which the new file must keep.
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(real.c_str(), 4321, 4322));
    }
    ASSERT_EQ(0, symlink(real.c_str(), game.PathText("Darkinst.cfg").c_str()));
    ASSERT_EQ(0, symlink(elsewhere.PathText("victim.sav").c_str(), (real + ".q8r-tmp").c_str()));
    struct stat before;
    ASSERT_EQ(0, stat(real.c_str(), &before));

    ASSERT_TRUE(WriteConfigText(game.PathText("Darkinst.cfg").c_str(), "new content\n"));

    struct stat link, after;
    ASSERT_EQ(0, lstat(game.PathText("Darkinst.cfg").c_str(), &link));
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(elsewhere.Read("a\\b/real.cfg"), kNewText);
    ASSERT_EQ(0, stat(real.c_str(), &after));
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(elsewhere.Read("victim.sav"), "a saved game");
    EXPECT_EQ(elsewhere.Tree(), (std::vector<std::string>{"a/", "a/b/", "a/b/real.cfg", "a\\b/", "a\\b/real.cfg",
                                                          "victim.sav"}));
}

// What a run cut off (or a run as root with umask 077) leaves at the side
// file's name is removed by name, whatever it is, and so is the name a stale
// side file was renamed to; a folder there is the player's and the write
// fails with the target untouched.
TEST(PosixReplacement, AStaleSideNameOfAnyKindGivesWayButAFolderStays) {
    enum Stale { kPrivateFile, kFifo, kDanglingLink, kLinkToAFile, kRenamedAside, kFolder };
    const struct {
        const char* name;
        Stale stale;
    } cases[] = {
        {"a file nobody may read", kPrivateFile}, {"a FIFO", kFifo},
        {"a dangling link", kDanglingLink},       {"a link to a file", kLinkToAFile},
        {"a side file renamed aside", kRenamedAside}, {"a folder", kFolder},
    };
    for (const auto& c : cases) {
        ScratchFolder game;
        game.Write("Darkinst.cfg", "old");
        game.Write("victim.sav", "keep");
        const std::string side = game.PathText("Darkinst.cfg.q8r-tmp");
        switch (c.stale) {
            case kPrivateFile:
                game.Write("Darkinst.cfg.q8r-tmp", "half");
                ASSERT_EQ(0, chmod(side.c_str(), 0));
                break;
            case kFifo: ASSERT_EQ(0, mkfifo(side.c_str(), 0600)); break;
            case kDanglingLink: ASSERT_EQ(0, symlink("nowhere", side.c_str())); break;
            case kLinkToAFile: ASSERT_EQ(0, symlink(game.PathText("victim.sav").c_str(), side.c_str())); break;
            case kRenamedAside: game.Write("Darkinst.cfg.q8r-tmp.stale", "half"); break;
            case kFolder: game.Write("Darkinst.cfg.q8r-tmp/mine.txt", "mine"); break;
        }

        const bool written = WriteConfigText(game.PathText("Darkinst.cfg").c_str(), "new content\n");

        if (c.stale == kFolder) {
            EXPECT_FALSE(written) << c.name;
            EXPECT_EQ(game.Read("Darkinst.cfg"), "old") << c.name;
            EXPECT_EQ(game.Read("Darkinst.cfg.q8r-tmp/mine.txt"), "mine") << c.name;
            continue;
        }
        EXPECT_TRUE(written) << c.name;
        EXPECT_EQ(game.Read("Darkinst.cfg"), kNewText) << c.name;
        EXPECT_EQ(game.Read("victim.sav"), "keep") << c.name;
        EXPECT_EQ(game.Tree(), (std::vector<std::string>{"Darkinst.cfg", "victim.sav"})) << c.name;
    }
}

// A linked file whose real folder takes no side file (the player may write
// the file, not its folder) is rewritten through the link, as the plain
// program does; the link stays.
TEST(PosixReplacement, ALinkedFileWhoseFolderTakesNoSideFileIsRewrittenInPlace) {
    ScratchFolder elsewhere;
    ScratchFolder game;
    elsewhere.Write("real.cfg", "old content, longer than the new");
    ASSERT_EQ(0, symlink(elsewhere.PathText("real.cfg").c_str(), game.PathText("Darkinst.cfg").c_str()));
    {
        // The first open for writing checks the file; the second makes the side file.
        FaultyFileAccess noSideFile(kCallOpen, 2);
        ASSERT_TRUE(WriteConfigText(game.PathText("Darkinst.cfg").c_str(), "new content\n"));
        EXPECT_TRUE(noSideFile.Failed());
    }
    EXPECT_TRUE(std::filesystem::is_symlink(game.Root() / "Darkinst.cfg"));
    EXPECT_EQ(elsewhere.Read("real.cfg"), kNewText);
    EXPECT_EQ(elsewhere.Tree(), (std::vector<std::string>{"real.cfg"}));
}

}  // namespace
