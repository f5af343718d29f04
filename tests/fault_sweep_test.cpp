// Every file call that a patch or a configuration rewrite makes is made to
// fail in turn, and every allocation of the engine: whatever fails, the
// video and each Darkinst.cfg are byte for byte as before or completely
// new, and a failure is never reported as success.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "avi_patch.h"
#include "avi_patch_maker.h"
#include "darkinst_steps.h"
#include "file_replacement.h"
#include "support/faulty_file_access.h"
#include "support/recording_platform.h"
#include "support/scratch_folder.h"

namespace {

const FileCall kSweptCalls[] = {kCallOpen,   kCallRead,    kCallWrite,  kCallFlush, kCallClose,
                                kCallRename, kCallReplace, kCallRemove, kCallSync};

std::string MakeOriginal() {
    std::string bytes;
    for (int i = 0; bytes.size() < 300000; ++i) bytes += "00dc frame " + std::to_string(i) + " of the cut\n";
    return bytes;
}

std::string MakeCorrected(const std::string& original) {
    std::string bytes = original;
    bytes.insert(1000, "an inserted title card");
    bytes.replace(150000, 40, std::string(40, '#'));
    bytes.erase(250000, 5000);
    return bytes;
}

// Counts the calls of each kind that one undisturbed run makes, then runs
// again once for each of them with that call failing: `lay` puts the files
// back, `run` does the work and `check` looks at what is left, told which
// call failed. Returns the number of failing calls tried.
template <typename Lay, typename Run, typename Check>
int SweepFailingCalls(Lay lay, Run run, Check check) {
    std::vector<int> counts;
    lay();
    {
        FaultyFileAccess counter(kCallCount, 0);
        run();
        for (FileCall call : kSweptCalls) counts.push_back(counter.Count(call));
    }
    int points = 0;
    for (size_t kind = 0; kind < std::size(kSweptCalls); ++kind) {
        for (int n = 1; n <= counts[kind]; ++n) {
            lay();
            decltype(run()) outcome;
            {
                FaultyFileAccess faults(kSweptCalls[kind], n);
                outcome = run();
            }
            check(outcome, kSweptCalls[kind], std::string(FileCallName(kSweptCalls[kind])) + " #" + std::to_string(n));
            ++points;
        }
    }
    return points;
}

class PatchUnderFaults : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> patch;
        std::string error;
        PatchMakeOptions options;
        options.maxSegment = 65536;  // many segments, so many writes
        ASSERT_TRUE(MakeAviPatch(reinterpret_cast<const uint8_t*>(original.data()), original.size(),
                                 reinterpret_cast<const uint8_t*>(corrected.data()), corrected.size(), options,
                                 &patch, &error))
            << error;
        patchBytes.assign(patch.begin(), patch.end());
    }

    void Lay() {
        for (const std::string& item : game.Tree()) std::filesystem::remove_all(game.Root() / item);
        game.Write("CS18.avi", original);
        game.Write("CS18.avi.upd", patchBytes);
    }

    PatchResult Apply() {
        return ApplyAviPatch(game.PathText("CS18.avi").c_str(), game.PathText("CS18.avi.upd").c_str(), nullptr);
    }

    // The one question that matters after any failure.
    void ExpectNothingLost(PatchResult code, const std::string& where) {
        const std::string video = game.Read("CS18.avi");
        if (code == PatchSuccessful) {
            EXPECT_EQ(video, corrected) << where << ": success reported for a video that was not patched";
            EXPECT_EQ(game.Read("CS18.avi.old"), original) << where;
        } else {
            EXPECT_TRUE(video == original) << where << ": a failed patch changed the video (code " << code << ")";
        }
        EXPECT_EQ(game.Read("CS18.avi.upd"), patchBytes) << where;
    }

    const std::string original = MakeOriginal();
    const std::string corrected = MakeCorrected(original);
    std::string patchBytes;
    ScratchFolder game;
};

TEST_F(PatchUnderFaults, NoFailingFileCallLosesTheVideoOrPassesForSuccess) {
    const int points = SweepFailingCalls([&] { Lay(); }, [&] { return Apply(); },
                                         [&](PatchResult code, FileCall, const std::string& where) {
                                             ExpectNothingLost(code, where);
                                         });
    EXPECT_GT(points, 20);
    std::printf("patch: %d failing file calls survived\n", points);
}

int allocationsLeft = 0;
void* CountedAllocator(size_t size) {
    return allocationsLeft-- > 0 ? std::malloc(size) : nullptr;
}

TEST_F(PatchUnderFaults, NoFailingAllocationLosesTheVideo) {
    for (int succeeding = 0; succeeding < 2; ++succeeding) {
        Lay();
        allocationsLeft = succeeding;
        PatchResult code;
        {
            PlatformScope failing(WithAllocator(CountedAllocator));
            code = Apply();
        }
        EXPECT_EQ(code, InsufficientMemory);
        ExpectNothingLost(code, "allocation #" + std::to_string(succeeding + 1));
    }
}

// The one way every player's file is replaced, under every failing call: the
// target holds its old bytes or the new ones, the result says which, and no
// side file is left.
TEST(ReplacementUnderFaults, TheTargetIsOldOrNewAndTheResultSaysWhich) {
    ScratchFolder folder;
    const std::string target = folder.PathText("CS18.avi");
    const std::string fresh(300000, 'n');
    const std::string stale = "a side file left by a run that was cut off";
    const auto lay = [&] {
        for (const std::string& item : folder.Tree()) std::filesystem::remove(folder.Root() / item);
        folder.Write("CS18.avi", "old bytes");
        folder.Write("CS18.avi.new", stale);
    };
    const auto replace = [&] {
        Replacement replacement;
        if (!BeginReplacement(replacement, target.c_str(), ".new")) return false;
        for (size_t done = 0; done < fresh.size(); done += 100000) {
            if (!WriteReplacement(replacement, fresh.data() + done, 100000)) {
                AbandonReplacement(replacement);
                return false;
            }
        }
        return CommitReplacement(replacement);
    };
    const int points = SweepFailingCalls(lay, replace, [&](bool committed, FileCall, const std::string& where) {
        EXPECT_EQ(folder.Read("CS18.avi"), committed ? fresh : "old bytes") << where;
        // A stale side file that cannot be removed stays, maybe put aside,
        // as it was; nothing else is left.
        for (const std::string& item : folder.Tree()) {
            if (item == "CS18.avi") continue;
            EXPECT_EQ(folder.Read(item), stale) << where << ": " << item;
        }
    });
    EXPECT_GE(points, 8);
    std::printf("replacement: %d failing file calls survived\n", points);
}

// Both rewrites of Darkinst.cfg under every failing call.
class RewriteUnderFaults : public ::testing::Test {
protected:
    RewriteUnderFaults() : cwd_(game.Root()), root_(game.RootText()) {}

    void Lay() {
        for (const std::string& item : game.Tree()) std::filesystem::remove_all(game.Root() / item);
        game.Write("Darkinst.cfg", kOldDarkinst);
        game.Write("q8r/install.cfg", kInstallCfg);
    }

    void LayAndForget() {
        Lay();
        platform.record().boxes.clear();
    }

    const std::string kOldDarkinst =
        "install_path C:\\Games\\Thief2\r\nresname_base .\\q8r+.\\RES\r\nload_path .\\q8r+.\\\r\n"
        "movie_path .\\q8r\\movies+.\\MOVIES\r\n";
    const std::string kInstallCfg = "install_path C:\\Games\\Thief2\r\nresname_base .\\RES\r\nmovie_path M\r\n";
    ScratchFolder game;
    RecordingPlatform platform;

private:
    WorkingDirectoryScope cwd_;
    GameRootScope root_;
};

TEST_F(RewriteUnderFaults, TheGamesDarkinstIsOldOrNewAndAFailureIsSaid) {
    Lay();
    ASSERT_EQ(RunStep(ResetDefaultDarkinst), -1);
    const std::string reset = game.Read("Darkinst.cfg");
    ASSERT_NE(reset, kOldDarkinst);

    const int points = SweepFailingCalls(
        [&] { LayAndForget(); }, [&] { return RunStep(ResetDefaultDarkinst); },
        [&](int exitCode, FileCall call, const std::string& where) {
            const std::string after = game.Read("Darkinst.cfg");
            EXPECT_TRUE(after == kOldDarkinst || after == reset) << where;
            // Not rewritten: the player is told, and the patcher ends. A file
            // that cannot be read is passed over quietly, as a missing one is.
            if (after != reset && call != kCallRead) {
                EXPECT_EQ(exitCode, 1) << where;
                EXPECT_EQ(platform.record().boxes.size(), 1u) << where;
            }
            EXPECT_EQ(game.Tree(), (std::vector<std::string>{"Darkinst.cfg", "q8r/", "q8r/install.cfg"})) << where;
        });
    std::printf("reset of Darkinst.cfg: %d failing file calls survived\n", points);
}

TEST_F(RewriteUnderFaults, TheModsDarkinstIsTheCopyOrTheNewOneAndAFailureIsSaid) {
    Lay();
    ASSERT_EQ(RunStep(CreateCustomDarkinst), -1);
    const std::string made = game.Read("q8r/Darkinst.cfg");
    ASSERT_NE(made, kInstallCfg);

    const int points = SweepFailingCalls(
        [&] { LayAndForget(); }, [&] { return RunStep(CreateCustomDarkinst); },
        [&](int exitCode, FileCall, const std::string& where) {
            const bool renamed = !game.Exists("q8r/install.cfg");
            const std::string mod = game.Read(renamed ? "q8r/Darkinst.cfg" : "q8r/install.cfg");
            EXPECT_TRUE(mod == kInstallCfg || (renamed && mod == made)) << where;
            if (renamed && mod == made) {
                EXPECT_EQ(exitCode, -1) << where;
            } else {
                EXPECT_EQ(platform.record().boxes.size(), 1u) << where << ": a failure nobody was told of";
            }
            EXPECT_EQ(game.Read("Darkinst.cfg"), kOldDarkinst) << where;
            EXPECT_EQ(game.Tree().size(), 3u) << where << ": a temporary file was left behind";
        });
    std::printf("mod Darkinst.cfg: %d failing file calls survived\n", points);
}

}  // namespace
