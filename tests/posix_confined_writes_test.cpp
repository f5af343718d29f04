// The patcher's file layer never changes anything outside the game root
// through a symbolic link, while reading through one still works.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform.h"
#include "posix_file_access.h"
#include "posix_path.h"
#include "support/platform_scope.h"
#include "support/scratch_folder.h"

namespace {

class ConfinedWrites : public ::testing::Test {
protected:
    void SetUp() override {
        outside.Write("movies/CS18.avi", "original");
        outside.Write("victim.cfg", "keep me");
        game.MakeFolder("q8r");
        ASSERT_EQ(0, symlink(outside.PathText("movies").c_str(), game.PathText("q8r/movies").c_str()));
        ASSERT_EQ(0, symlink(outside.PathText("victim.cfg").c_str(), game.PathText("q8r/planted.new").c_str()));
        game.Write("q8r/inside/file.txt", "inside");
        ASSERT_EQ(0, symlink("inside", game.PathText("q8r/alias").c_str()));
        confined.emplace(WithFiles(kConfinedFileAccess));
    }

    ScratchFolder outside;
    ScratchFolder game;
    WorkingDirectoryScope cwd{game.Root()};
    std::optional<PlatformScope> confined;
};

bool Opens(const std::string& path, FileOpenMode mode) {
    FileHandle* file = Files().open(path.c_str(), mode);
    if (file) Files().close(file);
    return file != nullptr;
}

TEST_F(ConfinedWrites, NothingIsChangedOutsideThroughALink) {
    const std::string root = game.RootText();
    struct Case {
        const char* what;
        bool done;
    };
    const Case cases[] = {
        {"create in a linked folder, relative", Opens(".\\q8r\\movies\\CS18.avi.new", kCreateForWriting)},
        {"create in a linked folder, absolute", Opens(root + "\\q8r\\movies\\CS18.avi.new", kCreateNewForWriting)},
        {"empty a file through a linked folder", Opens("q8r\\movies\\CS18.avi", kCreateForWriting)},
        {"write a file through a linked folder", Opens("q8r\\movies\\CS18.avi", kOpenExistingForWriting)},
        {"empty the target of a planted link", Opens("q8r\\planted.new", kCreateForWriting)},
        {"rename within a linked folder", Files().rename("q8r\\movies\\CS18.avi", "q8r\\movies\\CS18.avi.old")},
        {"replace into a linked folder", Files().replace("q8r\\inside\\file.txt", "q8r\\movies\\CS18.avi")},
        {"link within a linked folder", Files().link("q8r\\movies\\CS18.avi", "q8r\\movies\\CS18.avi.old")},
        {"remove through a linked folder", Files().remove("q8r\\movies\\CS18.avi")},
    };
    for (const Case& c : cases) EXPECT_FALSE(c.done) << c.what;
    EXPECT_EQ("original", outside.Read("movies/CS18.avi"));
    EXPECT_EQ("keep me", outside.Read("victim.cfg"));
    EXPECT_EQ((std::vector<std::string>{"movies/", "movies/CS18.avi", "victim.cfg"}), outside.Tree());
}

TEST_F(ConfinedWrites, ReadingThroughLinksAndWritingInsideStillWork) {
    EXPECT_TRUE(Opens("q8r\\movies\\cs18.AVI", kOpenForReading));
    EXPECT_TRUE(Opens("q8r\\planted.new", kOpenForReading));
    // A link whose target stays inside the game root is no way out.
    EXPECT_TRUE(Opens("q8r\\alias\\made.txt", kCreateNewForWriting));
    EXPECT_TRUE(Files().rename("q8r\\alias\\made.txt", "q8r\\made.txt"));
    // The planted link itself is an item of the game folder and may go.
    EXPECT_TRUE(Files().remove("q8r\\planted.new"));
    EXPECT_EQ("keep me", outside.Read("victim.cfg"));

    confined.reset();
    EXPECT_TRUE(Opens("q8r\\movies\\CS18.avi.new", kCreateNewForWriting)) << "the tools' layer is not confined";
}

TEST(WorkingDirectoryLinks, RelativeAndAbsolutePathsAlike) {
    ScratchFolder outside;
    ScratchFolder game;
    game.MakeFolder("q8r/real");
    ASSERT_EQ(0, symlink(outside.RootText().c_str(), game.PathText("q8r/out").c_str()));
    ASSERT_EQ(0, symlink("real", game.PathText("q8r/in").c_str()));
    WorkingDirectoryScope cwd(game.Root());
    const std::string root = game.RootText();
    struct Case {
        std::string path;
        bool lastFollowed;
        bool leaves;
    };
    const Case cases[] = {
        {"q8r/out/x", false, true},     {"./q8r/out/x", false, true}, {root + "/q8r/out/x", false, true},
        {"q8r/out", false, false},      {"q8r/out", true, true},      {"q8r/in/x", false, false},
        {"q8r/real/x", false, false},   {outside.RootText() + "/x", false, false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.leaves, LeavesWorkingDirectoryThroughLink(c.path, c.lastFollowed)) << c.path;
}

}  // namespace
