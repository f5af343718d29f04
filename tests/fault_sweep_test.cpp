// Every file call and allocation that a patch or a configuration rewrite
// makes is made to fail in turn: whatever fails, the video and each
// Darkinst.cfg are byte for byte as before or completely new, and a failure
// is never reported as success.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "avi_patch.h"
#include "avi_patch_maker.h"
#include "darkinst_steps.h"
#include "file_operations.h"
#include "file_replacement.h"
#include "file_walk.h"
#include "left_behind.h"
#include "support/faulty_file_access.h"
#include "support/memory_items.h"
#include "support/recording_platform.h"
#include "support/scratch_folder.h"

namespace {

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
        for (int kind = 0; kind < kCallCount; ++kind) counts.push_back(counter.Count(FileCall(kind)));
    }
    int points = 0;
    for (int kind = 0; kind < kCallCount; ++kind) {
        const FileCall call = FileCall(kind);
        // A replace failing half-way leaves no whole file at the name by its
        // nature; what it keeps is checked where it is made to happen.
        if (call == kCallReplaceHalfWay) continue;
        for (int n = 1; n <= counts[kind]; ++n) {
            lay();
            decltype(run()) outcome;
            {
                FaultyFileAccess faults(call, n);
                outcome = run();
            }
            check(outcome, call, std::string(FileCallName(call)) + " #" + std::to_string(n));
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

    // The one question that matters after any failure. Large contents are
    // compared whole, not diffed: a diff of two videos takes minutes.
    void ExpectNothingLost(PatchResult code, const std::string& where) {
        const std::string video = game.Read("CS18.avi");
        if (code == PatchSuccessful) {
            EXPECT_TRUE(video == corrected) << where << ": success reported for a video that was not patched";
            EXPECT_TRUE(game.Read("CS18.avi.old") == original) << where << ": no whole backup";
        } else {
            EXPECT_TRUE(video == original) << where << ": a failed patch changed the video (code " << code << ")";
        }
        EXPECT_TRUE(game.Read("CS18.avi.upd") == patchBytes) << where << ": the patch data changed";
    }

    const std::string original = MakeOriginal();
    const std::string corrected = MakeCorrected(original);
    std::string patchBytes;
    ScratchFolder game;
};

// On a file system with hard links and on one without (exFAT, FAT), where
// the backup is a copy.
TEST_F(PatchUnderFaults, NoFailingCallLosesTheVideoOrPassesForSuccess) {
    FileAccess withoutLinks = CurrentPlatform().files;
    withoutLinks.link = nullptr;
    for (const FileAccess& files : {CurrentPlatform().files, withoutLinks}) {
        PlatformScope layer(WithFiles(files));
        const char* const kind = files.link ? "with links, " : "without links, ";
        const int points = SweepFailingCalls([&] { Lay(); }, [&] { return Apply(); },
                                             [&](PatchResult code, FileCall call, const std::string& where) {
                                                 ExpectNothingLost(code, kind + where);
                                                 if (call == kCallAllocate) {
                                                     EXPECT_EQ(code, InsufficientMemory) << kind << where;
                                                 }
                                             });
        EXPECT_GT(points, 20);
        std::printf("patch %s%d failing calls survived\n", kind, points);
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
        EXPECT_TRUE(folder.Read("CS18.avi") == (committed ? fresh : "old bytes")) << where << ", committed " << committed;
        // A stale side file that cannot be removed stays, maybe put aside,
        // as it was; nothing else is left.
        for (const std::string& item : folder.Tree()) {
            if (item == "CS18.avi") continue;
            EXPECT_EQ(folder.Read(item), stale) << where << ": " << item;
        }
    });
    EXPECT_GE(points, 8);
    std::printf("replacement: %d failing calls survived\n", points);
    // The new name is made durable: the folder is synced, and again when
    // the first try fails.
    for (int failAt : {0, 1}) {
        lay();
        FaultyFileAccess faults(kCallSync, failAt);
        EXPECT_TRUE(replace());
        EXPECT_EQ(faults.Count(kCallSync), failAt + 1);
    }
}

// The patcher's copy of a file over one of the same name, under every
// failing call that reaches it.
TEST(CopyUnderFaults, TheTargetIsOldOrNewAndTheResultSaysWhich) {
    ScratchFolder folder;
    const std::string fresh(300000, 'n');
    const auto lay = [&] {
        for (const std::string& item : folder.Tree()) std::filesystem::remove_all(folder.Root() / item);
        folder.Write("user.cfg", fresh);
        folder.Write("q8r/user.cfg", "old bytes");
    };
    const auto copy = [&] { return CopyFiles(folder.PathText("user.cfg").c_str(), folder.PathText("q8r").c_str()); };
    const int points = SweepFailingCalls(lay, copy, [&](int result, FileCall, const std::string& where) {
        EXPECT_TRUE(folder.Read("q8r/user.cfg") == (result == 0 ? fresh : "old bytes")) << where << ", result " << result;
        EXPECT_EQ(folder.Tree(), (std::vector<std::string>{"q8r/", "q8r/user.cfg", "user.cfg"})) << where;
    });
    std::printf("copy: %d failing calls survived\n", points);
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
            const bool unread = call == kCallOpenForReading || call == kCallRead || call == kCallSize;
            if (after != reset && !unread) {
                EXPECT_EQ(exitCode, 1) << where;
                EXPECT_EQ(platform.record().boxes.size(), 1u) << where;
            }
            EXPECT_EQ(game.Tree(), (std::vector<std::string>{"Darkinst.cfg", "q8r/", "q8r/install.cfg"})) << where;
        });
    std::printf("reset of Darkinst.cfg: %d failing calls survived\n", points);
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
    std::printf("mod Darkinst.cfg: %d failing calls survived\n", points);
}

}  // namespace

// The walk's rules through its own seam, each of its calls failed in turn
// for every kind of request: whatever fails, no file is lost (a failed copy
// to another volume never takes its source away, a failed rename never an
// item), a result of success means the whole request was done, and a
// failure names what stayed.
class WalkUnderFaults : public ::testing::Test {
protected:
    struct Request {
        const char* what;
        std::function<bool(const ItemAccess&)> run;
        std::map<std::string, std::string> expected;
        bool succeeds;
    };

    static void Lay(MemoryItems& items) {
        items.Clear();
        items.File("/outside/kept.dat", "kept");
        items.File("/g/books/english/book1.str", "b1");
        items.File("/g/books/english/intro/page.str", "page");
        items.File("/g/books/intro/own.str", "own");
        items.File("/g/books/english/cf.str", "new cf");
        items.File("/g/books/cf.str", "old cf");
        items.File("/g/books/english/lt.str", "lt");
        items.Link("/g/books/lt.str", "/g/books/english/lt.str");
        items.File("/g/books/english/same.str", "same");
        items.HardLink("/g/books/english/same.str", "/g/books/same.str");
        items.File("/g/books/english/ffd/inner.str", "inner");
        items.File("/g/books/ffd", "a file in the way");
        items.Link("/g/books/english/out.str", "/outside/kept.dat");
        items.File("/g/snd/english/line.wav", "line");
        items.File("/g/snd/english/set/a.wav", "a");
        items.File("/other/snd/set/own.wav", "own wav");
        items.Link("/other/snd/line.wav", "/g/snd/english/line.wav");
        items.File("/g/saves/game.sav", "save");
        items.Link("/g/saves/last.sav", "/g/saves/game.sav");
        items.Folder("/g/q8r/old/empty");
        items.Link("/g/q8r/old/linked", "/outside");
    }

    static bool Move(const ItemAccess& access, const std::string& from, const std::string& to) {
        std::vector<WalkItem> listed;
        return ListSource(access, from, &listed) && MoveListed(access, listed, to);
    }

    static std::map<std::string, std::string> Contents(const std::map<std::string, std::string>& tree) {
        std::map<std::string, std::string> files;
        for (const auto& [path, entry] : tree) {
            if (entry[0] == 'f') files[entry] = path;
        }
        return files;
    }

    std::vector<Request> Requests() {
        return {
            {"a move onto the same volume",
             [](const ItemAccess& access) { return Move(access, "/g/books/english/*", "/g/books"); },
             {{"/g/books", "d"}, {"/g/books/book1.str", "f b1"}, {"/g/books/cf.str", "f new cf"},
              {"/g/books/english", "d"}, {"/g/books/english/ffd", "d"}, {"/g/books/english/ffd/inner.str", "f inner"},
              {"/g/books/ffd", "f a file in the way"}, {"/g/books/intro", "d"}, {"/g/books/intro/own.str", "f own"},
              {"/g/books/intro/page.str", "f page"}, {"/g/books/lt.str", "f lt"},
              {"/g/books/out.str", "l /outside/kept.dat"}, {"/g/books/same.str", "f same"},
              {"/g/books/english/book1.str", "nothing"}, {"/g/books/english/lt.str", "nothing"},
              {"/g/books/english/same.str", "nothing"}},
             false},
            {"a move to another volume",
             [](const ItemAccess& access) { return Move(access, "/g/snd/english/*", "/other/snd"); },
             {{"/g/snd", "d"}, {"/g/snd/english", "d"}, {"/other/snd", "d"}, {"/other/snd/line.wav", "f line"},
              {"/other/snd/set", "d"}, {"/other/snd/set/a.wav", "f a"}, {"/other/snd/set/own.wav", "f own wav"},
              {"/g/snd/english/line.wav", "nothing"}, {"/g/snd/english/set", "nothing"}},
             true},
            {"a copy",
             [](const ItemAccess& access) {
                 std::vector<WalkItem> listed;
                 return ListSource(access, "/g/saves", &listed) && CopyListed(access, listed, "/g/q8r");
             },
             {{"/g/q8r/saves", "d"}, {"/g/q8r/saves/game.sav", "f save"},
              {"/g/q8r/saves/last.sav", "l /g/saves/game.sav"}},
             true},
            {"a delete",
             [](const ItemAccess& access) {
                 std::vector<WalkItem> listed;
                 return ListSource(access, "/g/q8r/old", &listed) && DeleteListed(access, listed);
             },
             {{"/g/q8r/old", "nothing"}, {"/g/q8r/old/linked", "nothing"}},
             true},
        };
    }
};

TEST_F(WalkUnderFaults, NothingIsLostAndASuccessIsWhole) {
    for (const Request& request : Requests()) {
        MemoryItems items;
        Lay(items);
        const std::map<std::string, std::string> before = items.Tree();
        ForgetLeftBehind();
        EXPECT_EQ(request.run(items.Access()), request.succeeds) << request.what;
        const std::map<std::string, std::string> done = items.Tree();
        // What the request changed, and only that.
        for (const auto& [path, entry] : request.expected) {
            EXPECT_EQ(done.count(path) ? done.at(path) : "nothing", entry) << request.what << ": " << path;
        }
        for (const auto& [path, entry] : done) {
            if (!request.expected.count(path) && before.count(path)) {
                EXPECT_EQ(before.at(path), entry) << request.what << ": " << path;
            }
            EXPECT_TRUE(request.expected.count(path) || before.count(path)) << request.what << ": made " << path;
        }
        EXPECT_EQ(done.at("/outside/kept.dat"), "f kept") << request.what;
        const int calls = items.Calls();
        EXPECT_GT(calls, 3) << request.what;
        for (int failing = 1; failing <= calls; ++failing) {
            const std::string where = std::string(request.what) + ", call " + std::to_string(failing) + " failing";
            Lay(items);
            items.FailCall(failing);
            ForgetLeftBehind();
            const bool succeeded = request.run(items.Access());
            const std::map<std::string, std::string> after = items.Tree();
            if (succeeded) {
                EXPECT_EQ(after, done) << where << ": success reported for a request not done";
            } else {
                EXPECT_GT(LeftBehindCount(), 0u) << where << ": a failure that names nothing";
            }
            // No file is lost but one the request replaces by design.
            const std::map<std::string, std::string> kept = Contents(after);
            for (const auto& [content, path] : Contents(before)) {
                EXPECT_TRUE(kept.count(content) || request.expected.count(path)) << where << ": lost " << path;
            }
        }
        ForgetLeftBehind();
    }
}
