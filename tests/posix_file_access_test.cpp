// The POSIX file layer opens nothing but regular files, without waiting on
// the way, follows the player's folder links, and never makes or empties a
// file through a link at its own name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform.h"
#include "posix_file_io.h"
#include "support/scratch_folder.h"

namespace {

bool Opens(const std::string& path, FileOpenMode mode) {
    FileHandle* file = Files().open(path.c_str(), mode);
    if (file) Files().close(file);
    return file != nullptr;
}

const FileOpenMode kModes[] = {kOpenForReading, kCreateForWriting, kCreateNewForWriting, kOpenExistingForWriting};

TEST(PosixFileAccess, OpensNoFifoDeviceOrFolderAndNeverWaits) {
    ScratchFolder game;
    ASSERT_EQ(0, mkfifo(game.PathText("Darkinst.cfg").c_str(), 0666));
    game.MakeFolder("q8r");
    // A FIFO opened for reading waits for a writer: a regression hangs here.
    alarm(20);
    for (const char* path : {"Darkinst.cfg", "q8r", "/dev/null", "/dev/zero"}) {
        for (const FileOpenMode mode : kModes) {
            const std::string name = path[0] == '/' ? path : game.PathText(path);
            EXPECT_FALSE(Opens(name, mode)) << path << " in mode " << mode;
        }
    }
    alarm(0);
}

TEST(PosixFileAccess, FollowsFolderLinksButNeverMakesOrEmptiesAFileThroughALink) {
    ScratchFolder outside;
    outside.Write("movies/CS18.avi", "original");
    outside.Write("victim.cfg", "keep me");
    ScratchFolder game;
    game.MakeFolder("q8r");
    ASSERT_EQ(0, symlink(outside.PathText("movies").c_str(), game.PathText("q8r/movies").c_str()));
    ASSERT_EQ(0, symlink(outside.PathText("victim.cfg").c_str(), game.PathText("q8r/planted.new").c_str()));
    WorkingDirectoryScope cwd(game.Root());

    EXPECT_FALSE(Opens("q8r\\planted.new", kCreateForWriting));
    EXPECT_FALSE(Opens("q8r\\planted.new", kCreateNewForWriting));
    EXPECT_EQ("keep me", outside.Read("victim.cfg"));
    EXPECT_TRUE(Opens("q8r\\planted.new", kOpenForReading));

    // A movies folder kept on another disk behind a link is written as on Windows.
    FileHandle* made = Files().open("q8r\\movies\\CS18.avi.new", kCreateNewForWriting);
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(Files().write(made, "new", 3));
    EXPECT_TRUE(Files().close(made));
    EXPECT_TRUE(Files().link("q8r\\MOVIES\\cs18.avi", "q8r\\movies\\CS18.avi.old"));
    EXPECT_TRUE(Files().replace("q8r\\movies\\CS18.avi.new", "q8r\\movies\\CS18.avi"));
    EXPECT_TRUE(Files().remove("q8r\\movies\\CS18.avi.old"));
    EXPECT_EQ("new", outside.Read("movies/CS18.avi"));

    // A delete takes the link, never what it names.
    EXPECT_TRUE(Files().remove("q8r\\planted.new"));
    EXPECT_FALSE(game.Exists("q8r/planted.new"));
    EXPECT_EQ("keep me", outside.Read("victim.cfg"));
}

// A network mount's passing failure is tried again, anything else counts at
// once: a missing file must not cost seconds, a share's hiccup no item.
TEST(PosixRetry, WaitsOutOnlyAPassingFailure) {
    const struct {
        int error;
        int failures;  // before the call succeeds
        bool succeeds;
        int calls;
    } cases[] = {
        {EIO, 2, true, 3}, {ETIMEDOUT, 1, true, 2}, {EAGAIN, 1, true, 2}, {ESTALE, 1, true, 2},
        {ENOENT, 1, false, 1}, {EACCES, 5, false, 1},
    };
    for (const auto& item : cases) {
        int calls = 0;
        const bool done = RetryWhileTransient([&] {
            if (++calls > item.failures) return true;
            errno = item.error;
            return false;
        });
        EXPECT_EQ(done, item.succeeds) << std::strerror(item.error);
        EXPECT_EQ(calls, item.calls) << std::strerror(item.error);
        if (!done) {
            EXPECT_EQ(errno, item.error) << "the caller is told why";
        }
    }
}

}  // namespace
