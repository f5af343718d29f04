#include <gtest/gtest.h>

#include <algorithm>

#include "support/recording_platform.h"
#include "support/scratch_folder.h"
#include "task_sequence.h"

namespace {

TEST(TaskSequence, ShowsEveryStatusTextInOrderAndEndsFinished) {
    ScratchFolder game;
    WorkingDirectoryScope cwd(game.Root());
    GameRootScope root(game.RootText());
    RecordingPlatform platform;

    EXPECT_EQ(RunTaskSequence(), 1);

    const std::vector<std::string> expected = {
        "Current Operation: Removing old Q8R launcher...",
        "Current Operation: Resetting default darkinst.cfg file...",
        "Current Operation: Moving config files...",
        "Current Operation: Editing DarkInst.cfg...",
        "Current Operation: Moving book files...",
        "Current Operation: Moving string files...",
        "Current Operation: Moving sound files...",
        "Task Finished.",
    };
    EXPECT_EQ(platform.record().statuses, expected);
}

TEST(TaskSequence, RunsEveryStepAgainOnASecondStart) {
    ScratchFolder game;
    WorkingDirectoryScope cwd(game.Root());
    GameRootScope root(game.RootText());
    RecordingPlatform platform;
    platform.record().carryOutOperations = false;

    RunTaskSequence();
    const size_t firstRun = platform.record().operations.size();
    RunTaskSequence();
    EXPECT_EQ(platform.record().operations.size(), 2 * firstRun);
    // One delete, nine copies, one book move, one string move, 23 voice moves.
    EXPECT_GE(firstRun, 35u);
}

// A file that meets a folder of its name stays; the run must say so after
// "Task Finished." and end nonzero, not end as if all went well. Only the
// items that stayed are named, by their place below the game folder.
TEST(TaskSequence, NamesWhatStayedAfterFinishingAndEndsNonzero) {
    ScratchFolder game;
    game.Write("q8r/books/english/book1.str", "b1");
    game.Write("q8r/books/english/book2.str", "b2");
    game.MakeFolder("q8r/books/book1.str");
    WorkingDirectoryScope cwd(game.Root());
    GameRootScope root(game.RootText());
    RecordingPlatform platform;

    EXPECT_EQ(RunStep([] { RunTaskSequence(); }), 2);

    EXPECT_EQ(platform.record().events.back(), "box: Files Left Behind");
    EXPECT_EQ(platform.record().statuses.back(), "Task Finished.");
    std::string text = platform.record().boxes.back().text;
    std::replace(text.begin(), text.end(), '\\', '/');
    EXPECT_NE(text.find("q8r/books/english/book1.str (a folder of that name is in the way)"), std::string::npos) << text;
    EXPECT_EQ(text.find("book2"), std::string::npos) << text;
    EXPECT_TRUE(game.Exists("q8r/books/book2.str"));
}

}  // namespace
