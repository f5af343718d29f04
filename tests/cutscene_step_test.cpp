#include "cutscene_step.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "patcher_ui.h"
#include "support/faulty_file_access.h"
#include "support/recording_platform.h"
#include "support/scratch_folder.h"
#include "support/worked_example.h"

namespace {

const char* const kVideos[] = {"CS18.avi", "CS27.avi", "CS29.avi", "CS30.avi"};

// The worked example with another tableSum, which the engine refuses.
std::string WorkedExamplePatch(char tableSumLowByte = '\x2D') {
    std::string patch = kExamplePatch;
    patch[kExampleTableSumAt] = tableSumLowByte;
    return patch;
}

std::string Movie(const std::string& name) {
    return "q8r/movies/" + name;
}

// A stand-in engine: what it was asked, what it answers, what it reports.
struct ScriptedEngine {
    std::vector<std::pair<std::string, std::string>> calls;
    PatchResult result = PatchSuccessful;
    std::vector<std::pair<uint32_t, uint32_t>> reports;
};
ScriptedEngine* engine = nullptr;

PatchResult ScriptedApply(const char* aviPath, const char* patchPath, PatchProgress progress) {
    engine->calls.emplace_back(aviPath, patchPath);
    for (const auto& [done, total] : engine->reports) progress(done, total);
    return engine->result;
}

class CutsceneStep : public ::testing::Test {
protected:
    void SetUp() override {
        lastPercent = 101;  // as at the start of a process
        std::memset(CurrentCutscene, 0, sizeof CurrentCutscene);
    }
    void TearDown() override { engine = nullptr; }
    void UseScript(ScriptedEngine& script) { engine = &script; }
};

// With the stand-in engine: what the step does with each result code.

TEST_F(CutsceneStep, KeepsThePatchDataOnlyWhenTheFaultLiesWithThisMachine) {
    struct Case {
        PatchResult code;
        bool boxShown;
        bool patchDataKept;
        const char* message;
    };
    const Case cases[] = {
        {PatchSuccessful, false, false, nullptr},
        {CantOpenDataFile, true, false, "Can't Open Data File"},
        {CantOpenOriginal, true, true, "Can't Open Original Avi File."},
        {UnexpectedEnd, true, false, "Unexpected End of Data File"},
        {IncorrectDataFile, true, false, "Incorrect Data File"},
        {CorruptDataFile, true, false, "Corrupt Data File"},
        {InsufficientMemory, true, true, "Insufficient Memory Available"},
        {IncorrectOriginal, true, false, "Incorrect Original Avi File\nFile may all ready be patched."},
        {CantCreateNewFile, true, true, "Can't Create New Avi File"},
        {CorruptOriginal, true, false, "Incorrect or Corrupt Original Avi File"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        ScratchFolder game;
        GameRootScope root(game.RootText());
        RecordingPlatform platform;
        for (const char* video : kVideos) {
            game.Write(Movie(video), kOriginal);
            game.Write(Movie(video) + ".upd", WorkedExamplePatch());
            game.Write(Movie(video) + ".old", kOriginal);
        }
        ScriptedEngine script;
        script.result = c.code;
        UseScript(script);

        PatchCutscenesWith(ScriptedApply);

        ASSERT_EQ(script.calls.size(), 4u);
        ASSERT_EQ(platform.record().boxes.size(), c.boxShown ? 4u : 0u);
        for (size_t i = 0; i < platform.record().boxes.size(); ++i) {
            const RecordedBox& box = platform.record().boxes[i];
            EXPECT_EQ(box.text, std::string(c.message) + "\n\nFile: " + kVideos[i]);
            EXPECT_EQ(box.caption, "Video Patch Error");
            EXPECT_EQ(box.style, kMessageBoxOk);
        }
        for (const char* video : kVideos) {
            EXPECT_FALSE(game.Exists(Movie(video) + ".old")) << video;
            EXPECT_EQ(game.Exists(Movie(video) + ".upd"), c.patchDataKept) << video;
            EXPECT_EQ(game.Read(Movie(video)), kOriginal) << video;
        }
    }
}

TEST_F(CutsceneStep, HandsTheEngineEachVideoInOrderAndCleansUpAfterItsBox) {
    ScratchFolder game;
    GameRootScope root(game.RootText());
    RecordingPlatform platform;
    platform.record().carryOutOperations = false;
    ScriptedEngine script;
    script.result = CorruptOriginal;
    UseScript(script);

    PatchCutscenesWith(ScriptedApply);

    const std::string movies = game.RootText() + "\\q8r\\movies\\";
    ASSERT_EQ(script.calls.size(), 4u);
    std::vector<std::string> expectedDeletes;
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(script.calls[i].first, movies + kVideos[i]);
        EXPECT_EQ(script.calls[i].second, movies + kVideos[i] + ".upd");
        expectedDeletes.push_back(movies + kVideos[i] + ".old");
        expectedDeletes.push_back(movies + kVideos[i] + ".upd");
    }
    std::vector<std::string> deletes;
    for (const RecordedOperation& operation : platform.record().operations) {
        EXPECT_EQ(operation.kind, "delete");
        deletes.push_back(operation.from);
    }
    EXPECT_EQ(deletes, expectedDeletes);
    EXPECT_STREQ(CurrentCutscene, "CS30.avi");
    EXPECT_TRUE(platform.record().statuses.empty());
}

TEST_F(CutsceneStep, ReportsAVideoPathTooLongForItsSideFilesWithoutTouchingAnything) {
    // "\q8r\movies\CS18.avi" is 20 characters; the ".upd" and ".old" names
    // add 4 more and must stay within 258.
    struct Case {
        size_t rootLength;
        bool patched;
    };
    for (const Case c : {Case{234, true}, Case{235, false}, Case{300, false}}) {
        SCOPED_TRACE("root of " + std::to_string(c.rootLength));
        const std::string longRoot = "C:\\" + std::string(c.rootLength - 3, 'r');
        GameRootScope root(longRoot);
        RecordingPlatform platform;
        platform.record().carryOutOperations = false;
        ScriptedEngine script;
        UseScript(script);

        PatchCutscenesWith(ScriptedApply);

        if (c.patched) {
            ASSERT_EQ(script.calls.size(), 4u);
            EXPECT_EQ(script.calls[0].second.size(), 258u);
            EXPECT_EQ(platform.record().operations.size(), 8u);
            EXPECT_TRUE(platform.record().boxes.empty());
        } else {
            EXPECT_TRUE(script.calls.empty());
            EXPECT_TRUE(platform.record().operations.empty());
            ASSERT_EQ(platform.record().boxes.size(), 4u);
            for (size_t i = 0; i < 4; ++i)
                EXPECT_EQ(platform.record().boxes[i].text,
                          std::string("Can't Open Original Avi File.\n\nFile: ") + kVideos[i]);
        }
    }
}

TEST_F(CutsceneStep, WritesAPercentageOnlyWhenItChanges) {
    struct Case {
        const char* name;
        int32_t lastPercentBefore;
        std::vector<std::pair<uint32_t, uint32_t>> reports;
        std::vector<int> shown;
    };
    const Case cases[] = {
        {"the first report shows even 0", 101, {{0, 200}, {1, 200}, {2, 200}, {3, 200}}, {0, 1}},
        {"a repeat is not written", 101, {{1, 8}, {1, 8}, {3, 8}, {6, 8}}, {12, 37, 75}},
        {"the last percentage carries over", 37, {{3, 8}, {6, 8}}, {75}},
        // 32-bit arithmetic would wrap done * 100 here and show 14.
        {"large tables do not wrap", 101, {{49999998, 50000000}}, {99}},
        {"no division by an empty table", 101, {{0, 0}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPlatform platform;
        std::strcpy(CurrentCutscene, "CS27.avi");
        lastPercent = c.lastPercentBefore;
        for (const auto& [done, total] : c.reports) ReportPatchProgress(done, total);
        std::vector<std::string> expected;
        for (int percent : c.shown)
            expected.push_back("Current Operation: Patching cutscene CS27.avi... " + std::to_string(percent) + "%");
        EXPECT_EQ(platform.record().statuses, expected);
    }
}

TEST_F(CutsceneStep, ANextVideoOpeningAtTheSamePercentageLeavesThePreviousName) {
    GameRootScope root("C:\\Games\\Thief2");
    RecordingPlatform platform;
    platform.record().carryOutOperations = false;
    ScriptedEngine script;
    script.reports = {{1, 8}, {3, 8}};
    UseScript(script);

    PatchCutscenesWith(ScriptedApply);

    const std::vector<std::string> expected = {
        "Current Operation: Patching cutscene CS18.avi... 12%",
        "Current Operation: Patching cutscene CS18.avi... 37%",
        "Current Operation: Patching cutscene CS27.avi... 12%",
        "Current Operation: Patching cutscene CS27.avi... 37%",
        "Current Operation: Patching cutscene CS29.avi... 12%",
        "Current Operation: Patching cutscene CS29.avi... 37%",
        "Current Operation: Patching cutscene CS30.avi... 12%",
        "Current Operation: Patching cutscene CS30.avi... 37%",
    };
    EXPECT_EQ(platform.record().statuses, expected);
    EXPECT_EQ(lastPercent, 37);

    // A video whose first report repeats the last percentage shown.
    platform.record().statuses.clear();
    script.reports = {{3, 8}, {6, 8}};
    PatchCutscenesWith(ScriptedApply);
    EXPECT_EQ(platform.record().statuses.front(), "Current Operation: Patching cutscene CS18.avi... 75%");
}

// With the real engine, on disk.

TEST_F(CutsceneStep, PatchesTheWorkedExampleAndLeavesOnlyTheCorrectedVideo) {
    ScratchFolder game;
    GameRootScope root(game.RootText());
    RecordingPlatform platform;
    game.Write(Movie("CS18.avi"), kOriginal);
    game.Write(Movie("CS18.avi.upd"), WorkedExamplePatch());

    PatchCutscenes();

    const std::vector<std::string> expectedStatuses = {
        "Current Operation: Patching cutscene CS18.avi... 12%",
        "Current Operation: Patching cutscene CS18.avi... 37%",
        "Current Operation: Patching cutscene CS18.avi... 75%",
    };
    EXPECT_EQ(platform.record().statuses, expectedStatuses);
    const std::vector<std::string> expectedTree = {"q8r/", "q8r/movies/", "q8r/movies/CS18.avi"};
    EXPECT_EQ(game.Tree(), expectedTree);
    EXPECT_EQ(game.Read(Movie("CS18.avi")), kCorrected);
    // The three videos without patch data, each in its own box, in order.
    ASSERT_EQ(platform.record().boxes.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(platform.record().boxes[i].text, std::string("Can't Open Data File\n\nFile: ") + kVideos[i + 1]);
}

TEST_F(CutsceneStep, AFailingVideoDoesNotKeepTheLaterOnesFromBeingPatched) {
    ScratchFolder game;
    GameRootScope root(game.RootText());
    RecordingPlatform platform;
    for (const char* video : kVideos) {
        game.Write(Movie(video), kOriginal);
        game.Write(Movie(video) + ".upd", WorkedExamplePatch());
    }
    game.Write(Movie("CS27.avi.upd"), WorkedExamplePatch('\x2E'));

    PatchCutscenes();

    ASSERT_EQ(platform.record().boxes.size(), 1u);
    EXPECT_EQ(platform.record().boxes[0].text, "Incorrect Data File\n\nFile: CS27.avi");
    EXPECT_EQ(game.Read(Movie("CS18.avi")), kCorrected);
    EXPECT_EQ(game.Read(Movie("CS27.avi")), kOriginal);
    EXPECT_EQ(game.Read(Movie("CS29.avi")), kCorrected);
    EXPECT_EQ(game.Read(Movie("CS30.avi")), kCorrected);
    const std::vector<std::string> expectedTree = {"q8r/",         "q8r/movies/",  "q8r/movies/CS18.avi",
                                                   "q8r/movies/CS27.avi", "q8r/movies/CS29.avi",
                                                   "q8r/movies/CS30.avi"};
    EXPECT_EQ(game.Tree(), expectedTree);
}

TEST_F(CutsceneStep, WhatTheRealEngineLeavesForEachKindOfFailure) {
    struct Case {
        const char* name;
        void (*arrange)(const ScratchFolder& game);
        const char* message;
        bool patchDataKept;
    };
    const Case cases[] = {
        {"already patched", [](const ScratchFolder& g) { g.Write(Movie("CS18.avi"), kCorrected); },
         "Incorrect Original Avi File\nFile may all ready be patched.", false},
        {"video missing", [](const ScratchFolder& g) { g.MakeFolder("q8r/movies"); },
         "Can't Open Original Avi File.", true},
        {"new file blocked by a folder",
         [](const ScratchFolder& g) {
             g.Write(Movie("CS18.avi"), kOriginal);
             g.MakeFolder(Movie("CS18.avi.new"));
         },
         "Can't Create New Avi File", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder game;
        GameRootScope root(game.RootText());
        RecordingPlatform platform;
        c.arrange(game);
        const std::string videoBefore = game.Read(Movie("CS18.avi"));
        game.Write(Movie("CS18.avi.upd"), WorkedExamplePatch());

        PatchCutscenes();

        ASSERT_EQ(platform.record().boxes.size(), 4u);
        EXPECT_EQ(platform.record().boxes[0].text, std::string(c.message) + "\n\nFile: CS18.avi");
        EXPECT_EQ(game.Read(Movie("CS18.avi")), videoBefore);
        EXPECT_EQ(game.Exists(Movie("CS18.avi.upd")), c.patchDataKept);
        EXPECT_FALSE(game.Exists(Movie("CS18.avi.old")));
    }
}

// A replace that fails half-way leaves the video's name empty: the backup
// and the new file are then the only copies, and both stay.
TEST_F(CutsceneStep, AReplaceFailedHalfWayKeepsTheBackupAndTheNewFile) {
    ScratchFolder game;
    GameRootScope root(game.RootText());
    RecordingPlatform platform;
    game.Write(Movie("CS18.avi"), kOriginal);
    game.Write(Movie("CS18.avi.upd"), WorkedExamplePatch());
    {
        FaultyFileAccess faults(kCallReplaceHalfWay, 1);
        PatchCutscenes();
        EXPECT_TRUE(faults.Failed());
    }
    EXPECT_EQ(platform.record().boxes[0].text, "Can't Create New Avi File\n\nFile: CS18.avi");
    EXPECT_FALSE(game.Exists(Movie("CS18.avi")));
    EXPECT_EQ(game.Read(Movie("CS18.avi.old")), kOriginal);
    EXPECT_EQ(game.Read(Movie("CS18.avi.new")), kCorrected);
    EXPECT_TRUE(game.Exists(Movie("CS18.avi.upd")));
}

}  // namespace
