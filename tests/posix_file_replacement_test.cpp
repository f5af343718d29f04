// What a replaced file keeps on POSIX: the player's link stays a link and
// the file it names gets the new content, the mode and owner stay, and a link
// planted at a side file's name is never written through.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install_config.h"
#include "support/scratch_folder.h"

namespace {

TEST(PosixReplacement, KeepsThePlayersLinkModeAndOwnerAndNeverWritesThroughASideFileLink) {
    ScratchFolder elsewhere;
    ScratchFolder game;
    elsewhere.Write("real.cfg", "old content");
    elsewhere.Write("victim.sav", "a saved game");
    ASSERT_EQ(0, chmod(elsewhere.PathText("real.cfg").c_str(), 0640));
    ASSERT_EQ(0, symlink(elsewhere.PathText("real.cfg").c_str(), game.PathText("Darkinst.cfg").c_str()));
    ASSERT_EQ(0, symlink(elsewhere.PathText("victim.sav").c_str(), elsewhere.PathText("real.cfg.q8r-tmp").c_str()));
    struct stat before;
    ASSERT_EQ(0, stat(elsewhere.PathText("real.cfg").c_str(), &before));

    ASSERT_TRUE(WriteConfigText(game.PathText("Darkinst.cfg").c_str(), "new content\n"));

    struct stat link, after;
    ASSERT_EQ(0, lstat(game.PathText("Darkinst.cfg").c_str(), &link));
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(elsewhere.Read("real.cfg"), "new content\r\n\x1A");
    ASSERT_EQ(0, stat(elsewhere.PathText("real.cfg").c_str(), &after));
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(elsewhere.Read("victim.sav"), "a saved game");
    EXPECT_EQ(elsewhere.Tree(), (std::vector<std::string>{"real.cfg", "victim.sav"}));
}

}  // namespace
