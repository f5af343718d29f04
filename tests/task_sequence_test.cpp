#include <gtest/gtest.h>

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

}  // namespace
