#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "avi_patch.h"
#include "avi_patch_maker.h"
#include "platform.h"
#include "support/faulty_file_access.h"
#include "support/scratch_folder.h"
#include "xz_packed_size.h"

// A failed allocation is something the tool reports; under ASan it would
// end the run instead.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Bytes Insert(Bytes bytes, size_t at, const Bytes& what) {
    bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(at), what.begin(), what.end());
    return bytes;
}

Bytes Erase(Bytes bytes, size_t at, size_t count) {
    bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(at), bytes.begin() + static_cast<ptrdiff_t>(at + count));
    return bytes;
}

// One changed byte in every `every`, at a random place in each stretch.
Bytes Scatter(Bytes bytes, size_t every, uint32_t seed) {
    std::mt19937 random(seed);
    for (size_t start = 0; start + every <= bytes.size(); start += every) bytes[start + random() % every] ^= 0x5A;
    return bytes;
}

struct Pair {
    const char* name;
    Bytes original;
    Bytes corrected;
    PatchMakeOptions options;
    size_t literalAtMost;  // bytes that had to travel in the patch
};

std::vector<Pair> Pairs() {
    const Bytes base = RandomBytes(200000, 1);
    PatchMakeOptions small;
    small.maxSegment = 4096;
    PatchMakeOptions odd;
    odd.maxSegment = 7;
    PatchMakeOptions large;
    large.bufferSize = 3000000;
    Bytes moved = Erase(base, 50000, 30000);
    moved = Insert(moved, 120000, Bytes(base.begin() + 50000, base.begin() + 80000));
    return {
        {"identical", base, base, {}, 0},
        {"both empty", {}, {}, {}, 0},
        {"empty original", {}, RandomBytes(5000, 2), {}, 5000},
        {"empty result", base, {}, {}, 0},
        {"shorter than a block", {'a', 'b', 'c'}, {'a', 'X', 'c'}, {}, 3},
        {"original with extra bytes", Insert(Insert(base, 100, RandomBytes(17, 3)), 150000, RandomBytes(1000, 4)), base, {}, 0},
        {"inserted bytes", base, Insert(Insert(base, 150000, RandomBytes(1000, 4)), 100, RandomBytes(17, 3)), {}, 1017},
        // The 7 bytes ahead of the deletion are too short to be worth a copy.
        {"deletions", base, Erase(Erase(base, 150000, 999), 7, 5), {}, 7},
        {"scattered edits", base, Scatter(base, 100, 5), {}, 2000 * 40},
        {"scattered edits, 4 KiB segments", base, Scatter(base, 1000, 6), small, 200 * 40},
        {"7-byte segments", base, Scatter(base, 5000, 7), odd, 40 * 20},
        {"moved block", base, moved, {}, 64},
        {"larger buffer", RandomBytes(3500000, 8), Scatter(RandomBytes(3500000, 8), 100000, 9), large, 35 * 40},
        {"repeated bytes", Bytes(100000, 0), Insert(Bytes(100000, 0), 5000, {1, 2, 3}), {}, 64},
    };
}

class PatchToolTest : public ::testing::Test {
protected:
    ScratchFolder folder;
};

TEST_F(PatchToolTest, MadePatchesTurnTheOriginalIntoTheCorrectedFile) {
    for (const Pair& pair : Pairs()) {
        SCOPED_TRACE(pair.name);
        Bytes patch;
        std::string error;
        ASSERT_TRUE(MakeAviPatch(pair.original.data(), pair.original.size(), pair.corrected.data(),
                                 pair.corrected.size(), pair.options, &patch, &error))
            << error;
        const PatchDescription d = DescribeAviPatch(patch.data(), patch.size(), pair.original.data(), pair.original.size());
        EXPECT_TRUE(d.problems.empty()) << d.problems.front();
        EXPECT_LE(d.literalBytes, pair.literalAtMost);
        EXPECT_EQ(d.copyBytes + d.literalBytes, pair.corrected.size());
        const uint32_t limit = pair.options.maxSegment ? pair.options.maxSegment
                                                       : EffectivePatchBuffer(pair.options.bufferSize) - 8;
        EXPECT_LE(d.longestSegment, limit);

        folder.Write("video.avi", Text(pair.original));
        folder.Write("video.avi.upd", Text(patch));
        std::remove(folder.PathText("video.avi.old").c_str());
        EXPECT_EQ(ApplyAviPatch(folder.PathText("video.avi").c_str(), folder.PathText("video.avi.upd").c_str(), nullptr),
                  PatchSuccessful);
        EXPECT_TRUE(folder.Read("video.avi") == Text(pair.corrected));
        EXPECT_TRUE(folder.Read("video.avi.old") == Text(pair.original));
    }
}

// A table of short segments costs a call per segment only if the engine
// reads and writes each alone: neighbouring copies are read together, and
// the output goes out a buffer at a time.
TEST_F(PatchToolTest, ShortSegmentsApplyInFewCalls) {
    const Bytes original = RandomBytes(1 << 20, 41);
    Bytes moved = Erase(original, 300000, 100000);
    moved = Insert(moved, 700000, Bytes(original.begin() + 300000, original.begin() + 400000));
    PatchMakeOptions options;
    options.maxSegment = 16;
    Bytes patch;
    std::string error;
    ASSERT_TRUE(MakeAviPatch(original.data(), original.size(), moved.data(), moved.size(), options, &patch, &error));
    ASSERT_GT(DescribeAviPatch(patch.data(), patch.size(), nullptr, 0).copySegments, 60000u);
    folder.Write("video.avi", Text(original));
    folder.Write("video.avi.upd", Text(patch));
    FaultyFileAccess counting(kCallCount, 0);
    ASSERT_EQ(ApplyAviPatch(folder.PathText("video.avi").c_str(), folder.PathText("video.avi.upd").c_str(), nullptr),
              PatchSuccessful);
    EXPECT_TRUE(folder.Read("video.avi") == Text(moved));
    EXPECT_LT(counting.Count(kCallRead), 20);
    EXPECT_LT(counting.Count(kCallWrite), 5);
}

// Each edit costs its bytes and two entries at most; shared runs too short
// to pay for the entries around them travel as literal bytes.
TEST_F(PatchToolTest, PatchesCostNoMoreThanTheirEdits) {
    const Bytes original = RandomBytes(1 << 20, 11);
    // A 16-byte copy between two literals costs 12 + 8 bytes of entries.
    Bytes mostlyShared = original;
    for (size_t at = 16; at + 4 <= mostlyShared.size(); at += 20) {
        for (size_t k = at; k < at + 4; ++k) mostlyShared[k] ^= 0xA5;
    }
    const struct {
        const char* name;
        Bytes corrected;
        size_t largest;
    } cases[] = {
        {"one byte in 100", Scatter(original, 100, 12), 32 + original.size() / 100 * (1 + 5 * 4) + 64},
        {"16 shared bytes in 20", mostlyShared, 32 + 8 + original.size()},
    };
    PatchMakeOptions raw;
    raw.raw = true;
    for (const auto& c : cases) {
        Bytes patch;
        std::string error;
        ASSERT_TRUE(MakeAviPatch(original.data(), original.size(), c.corrected.data(), c.corrected.size(), raw, &patch,
                                 &error));
        EXPECT_LE(patch.size(), c.largest) << c.name;
    }
}

// The least any patch of the format can cost, whatever copies the maker
// finds: cheapest[i] makes corrected[0, i), trying every copy the original
// holds from every position.
uint64_t CheapestPatch(const Bytes& original, const Bytes& corrected, const SegmentCosts& costs) {
    const size_t n = corrected.size(), m = original.size();
    std::vector<size_t> reach(n, 0);  // longest copy that starts at corrected[j]
    std::vector<uint32_t> row(m + 1, 0), below(m + 1, 0);
    for (size_t j = n; j-- > 0;) {
        for (size_t o = 0; o < m; ++o) {
            row[o] = corrected[j] == original[o] ? below[o + 1] + 1 : 0;
            reach[j] = std::max<size_t>(reach[j], row[o]);
        }
        std::swap(row, below);
    }
    constexpr uint64_t kNever = UINT64_MAX / 4;
    std::vector<uint64_t> byCopy(n + 1, kNever), byLiteral(n + 1, kNever);
    byCopy[0] = 0;
    for (size_t i = 1; i <= n; ++i) {
        for (size_t j = i; j-- > 0 && i - j <= n;) {
            if (i - j <= reach[j]) byCopy[i] = std::min(byCopy[i], std::min(byCopy[j], byLiteral[j]) + costs.copyEntry);
        }
        byLiteral[i] = std::min(byLiteral[i - 1], byCopy[i - 1] + costs.literalEntry) + costs.LiteralBytes(i - 1, i);
    }
    return std::min(byCopy[n], byLiteral[n]);
}

// What a made patch costs under the same prices.
uint64_t PatchCost(const Bytes& patch, const SegmentCosts& costs) {
    const AviPatchHeader header = DecodeAviPatchHeader(patch.data());
    SegmentCursor cursor = {patch.data() + kAviPatchHeaderSize, header.wordCount};
    PatchSegment segment;
    uint64_t cost = 0;
    size_t at = 0;
    while (NextSegment(cursor, &segment) == kSegmentRead) {
        cost += segment.literal ? costs.literalEntry + costs.LiteralBytes(at, at + segment.length) : costs.copyEntry;
        at += segment.length;
    }
    return cost;
}

// Pieces of the original, some moved, new bytes, runs of one value and
// repeats, in stretches of plain and of low-variety bytes.
TEST(MakeAviPatch, ChoosesNearlyTheCheapestPatchTheFormatAllows) {
    std::mt19937 random(21);
    const auto pick = [&random](size_t from, size_t to) { return from + random() % (to - from + 1); };
    for (int round = 0; round < 12; ++round) {
        Bytes original;
        while (original.size() < 1500) {
            const size_t length = pick(20, 300);
            const uint32_t variety = round % 2 ? 256 : pick(2, 16);
            for (size_t k = 0; k < length; ++k) original.push_back(static_cast<uint8_t>(random() % variety));
            original.insert(original.end(), pick(0, 1) * pick(20, 200), static_cast<uint8_t>(random()));
        }
        Bytes corrected;
        while (corrected.size() < 1500) {
            const size_t length = pick(1, 200);
            const size_t from = pick(0, original.size() - length);
            switch (random() % 4) {
                case 0: corrected.insert(corrected.end(), original.begin() + from, original.begin() + from + length); break;
                case 1: corrected.insert(corrected.end(), original.begin() + from, original.begin() + from + length);
                        corrected[corrected.size() - 1 - random() % length] ^= 1; break;
                case 2: corrected.insert(corrected.end(), length, static_cast<uint8_t>(random())); break;
                default: for (size_t k = 0; k < length; ++k) corrected.push_back(static_cast<uint8_t>(random())); break;
            }
        }
        for (const bool raw : {true, false}) {
            SCOPED_TRACE(testing::Message() << "round " << round << (raw ? ", raw" : ", packed"));
            PatchMakeOptions options;
            options.raw = raw;
            Bytes patch;
            std::string error;
            ASSERT_TRUE(MakeAviPatch(original.data(), original.size(), corrected.data(), corrected.size(), options,
                                     &patch, &error));
            SegmentCosts costs = EstimateSegmentCosts(corrected.data(), corrected.size(), raw);
            if (raw) {
                // Priced from the format itself: a copy entry is 3 words, a literal 2 and its bytes.
                costs.copyEntry = 12;
                costs.literalEntry = 8;
                costs.rate.assign(costs.rate.size(), 1);
                for (size_t b = 0; b < costs.rate.size(); ++b) costs.through[b + 1] = std::min((b + 1) * kCostBlock, corrected.size());
            }
            const uint64_t cheapest = CheapestPatch(original, corrected, costs);
            const uint64_t made = PatchCost(patch, costs);
            EXPECT_GE(made, cheapest);
            EXPECT_LE(made, cheapest + cheapest / 200) << made << " against " << cheapest;
        }
    }
}

// Records built from one template, each with a field of its own, so that
// every seed of the template has many places and the record a corrected one
// goes on as lies far back in its chain; the corrected file moves records
// and changes words in them shorter than a seed.
TEST(MakeAviPatch, FindsTheRecordFarBackAmongManyRepeats) {
    std::mt19937 random(51);
    const Bytes base = RandomBytes(150, 52);
    std::vector<Bytes> records;
    for (int k = 0; k < 48; ++k) {
        Bytes record = base;
        for (int b = 0; b < 4; ++b) record[40 + b] = static_cast<uint8_t>(random());
        records.push_back(record);
    }
    Bytes original, corrected;
    for (const Bytes& record : records) original.insert(original.end(), record.begin(), record.end());
    for (int k = 0; k < 48; ++k) {
        Bytes record = records[(k * 29) % 48];
        if (k % 3 == 0) {
            for (int b = 0; b < 6; ++b) record[100 + b] = static_cast<uint8_t>(random());
        }
        corrected.insert(corrected.end(), record.begin(), record.end());
    }
    PatchMakeOptions options;
    options.raw = true;
    Bytes patch;
    std::string error;
    ASSERT_TRUE(MakeAviPatch(original.data(), original.size(), corrected.data(), corrected.size(), options, &patch, &error));
    SegmentCosts costs = EstimateSegmentCosts(corrected.data(), corrected.size(), true);
    const uint64_t cheapest = CheapestPatch(original, corrected, costs);
    const uint64_t made = PatchCost(patch, costs);
    EXPECT_LE(made, cheapest + cheapest / 100) << made << " against " << cheapest;
}

TEST_F(PatchToolTest, OptionsOutsideTheFormatAreRefused) {
    const Bytes bytes = RandomBytes(100, 13);
    const struct {
        uint32_t bufferSize, maxSegment;
    } cases[] = {{255, 0}, {0, 0}, {256, kMinimumPatchBuffer - 7}, {2000000, 1999993}};
    for (const auto& c : cases) {
        PatchMakeOptions options;
        options.bufferSize = c.bufferSize;
        options.maxSegment = c.maxSegment;
        Bytes patch;
        std::string error;
        EXPECT_FALSE(MakeAviPatch(bytes.data(), bytes.size(), bytes.data(), bytes.size(), options, &patch, &error))
            << c.bufferSize << ' ' << c.maxSegment;
        EXPECT_FALSE(error.empty());
    }
}

// Whatever length a patch is cut to, the engine stops with one clear code,
// and what it wrote is the start of the corrected file.
TEST_F(PatchToolTest, PatchCutAtEveryLengthEndsUnexpectedly) {
    const Bytes original = RandomBytes(600, 14);
    const Bytes corrected = Insert(Scatter(original, 150, 15), 300, {'n', 'e', 'w'});
    PatchMakeOptions options;
    options.maxSegment = 100;
    Bytes patch;
    std::string error;
    ASSERT_TRUE(MakeAviPatch(original.data(), original.size(), corrected.data(), corrected.size(), options, &patch, &error));
    folder.Write("video.avi", Text(original));
    const std::string video = folder.PathText("video.avi");
    const std::string data = folder.PathText("video.avi.upd");
    const size_t tableEnd = 32 + 4 * DescribeAviPatch(patch.data(), patch.size(), nullptr, 0).header.wordCount;
    for (size_t length = 0; length < patch.size(); ++length) {
        folder.Write("video.avi.upd", Text(patch).substr(0, length));
        std::remove(folder.PathText("video.avi.new").c_str());
        ASSERT_EQ(ApplyAviPatch(video.c_str(), data.c_str(), nullptr), UnexpectedEnd) << length;
        EXPECT_EQ(folder.Exists("video.avi.new"), length >= tableEnd) << length;
        const std::string written = folder.Read("video.avi.new");
        if (length >= tableEnd) {
            EXPECT_EQ(written, Text(corrected).substr(0, written.size())) << length;
        }
    }
    EXPECT_EQ(folder.Read("video.avi"), Text(original));
}

TEST(DescribeAviPatch, NamesEveryWayAPatchBreaksTheFormatOrMissesTheOriginal) {
    // Copy 16, literal "XYZ", copy 16: the shortest copies worth their entries.
    const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef";
    const Bytes original(letters.begin(), letters.end());
    const std::string edited = letters.substr(0, 16) + "XYZ" + letters.substr(16);
    const Bytes corrected(edited.begin(), edited.end());
    Bytes good;
    std::string error;
    PatchMakeOptions raw;
    raw.raw = true;
    ASSERT_TRUE(MakeAviPatch(original.data(), 32, corrected.data(), 35, raw, &good, &error));
    ASSERT_EQ(good.size(), 67u);
    const auto poke = [&good](size_t offset, uint32_t value, bool fixSum) {
        Bytes patch = good;
        StoreLittle32(patch.data() + offset, value);
        if (fixSum) {
            StoreLittle32(patch.data() + 28, SegmentChecksum(patch.data() + 32, 32));
        }
        return patch;
    };
    Bytes otherOriginal = original;
    otherOriginal[20] = '!';
    const struct {
        const char* name;
        Bytes patch;
        const Bytes* against;
        std::string problem;
    } cases[] = {
        {"good", good, &original, ""},
        {"good alone", good, nullptr, ""},
        {"cut header", Bytes(good.begin(), good.begin() + 31), nullptr, "shorter than its 32-byte header"},
        {"magic", poke(0, 0, false), nullptr, "magic"},
        {"buffer", poke(16, 255, false), nullptr, "bufferSize"},
        {"huge original size", poke(20, 0x80000000, false), nullptr, "originalSize is at or above 2^31"},
        {"huge offset", poke(32 + 8, 0x80000000, true), nullptr, "entry at word 0 has an offset at or above 2^31"},
        {"word count", poke(24, 1, false), nullptr, "wordCount is below 2"},
        {"huge word count", poke(24, 0x40000000, false), nullptr, "wordCount is above"},
        {"cut table", Bytes(good.begin(), good.begin() + 60), nullptr, "cut short"},
        {"table sum", poke(28, 0, false), nullptr, "tableSum"},
        {"literal checksum", poke(32 + 16, 0, true), nullptr, "entry at word 3 has a wrong checksum"},
        {"copy past the end", poke(32 + 28, 17, true), nullptr, "entry at word 5 copies past the end"},
        {"too long", poke(32, kMinimumPatchBuffer - 7, true), nullptr, "entry at word 0 is longer"},
        {"past the table", poke(32 + 20, kLiteralFlag, true), nullptr, "runs past the end of the table"},
        {"missing literal bytes", Bytes(good.begin(), good.begin() + 65), nullptr, "literal bytes past the end"},
        {"other original", good, &otherOriginal, "entry at word 5 does not match the original"},
        {"shorter original", good, &corrected, "the original is 35 bytes, the patch is for 32"},
    };
    for (const auto& c : cases) {
        const PatchDescription d = DescribeAviPatch(c.patch.data(), c.patch.size(), c.against ? c.against->data() : nullptr,
                                                    c.against ? c.against->size() : 0);
        if (c.problem.empty()) {
            EXPECT_TRUE(d.problems.empty()) << c.name << ": " << d.problems.front();
            EXPECT_EQ(d.copySegments, 2u);
            EXPECT_EQ(d.literalSegments, 1u);
            EXPECT_EQ(d.literalBytes, 3u);
        } else {
            std::string all;
            for (const std::string& problem : d.problems) all += problem + "; ";
            EXPECT_NE(all.find(c.problem), std::string::npos) << c.name << ": " << all;
        }
    }
}

// The command line, run in-process.
struct ToolRun {
    int code;
    std::string out;
    std::string err;
};

ToolRun RunTool(const std::vector<std::string>& args, bool errIsTerminal = false) {
    std::ostringstream out, err;
    const int code = RunAviPatchTool(args, out, err, errIsTerminal);
    return {code, out.str(), err.str()};
}

TEST_F(PatchToolTest, CommandLineMakesDescribesAndApplies) {
    const Bytes original = RandomBytes(50000, 16);
    const Bytes corrected = Insert(Scatter(original, 700, 17), 20000, RandomBytes(300, 18));
    folder.Write("cs.avi", Text(original));
    folder.Write("fixed.avi", Text(corrected));
    const std::string video = folder.PathText("cs.avi");
    const std::string patch = folder.PathText("cs.avi.upd");

    ToolRun run = RunTool({"make", "--max-segment", "100", video, folder.PathText("fixed.avi"), patch});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("literal bytes"), std::string::npos);
    EXPECT_FALSE(folder.Exists("cs.avi.upd.partial"));

    run = RunTool({"describe", patch, video});
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_NE(run.out.find("applies to the original"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("longest segment:  100\n"), std::string::npos) << run.out;
    EXPECT_EQ(RunTool({"describe", patch, folder.PathText("fixed.avi")}).code, 1);
    folder.Write("empty.avi", "");
    run = RunTool({"describe", patch, folder.PathText("empty.avi")});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("the original is 0 bytes"), std::string::npos) << run.out;

    run = RunTool({"apply", video, patch});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(folder.Read("cs.avi") == Text(corrected));
    EXPECT_TRUE(folder.Read("cs.avi.old") == Text(original));

    run = RunTool({"apply", video, patch});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("File may all ready be patched."), std::string::npos) << run.err;
}

TEST_F(PatchToolTest, CommandLineErrorsGoToStandardErrorWithAFailingExit) {
    folder.Write("a", "abcdefgh");
    const std::string a = folder.PathText("a");
    const std::string missing = folder.PathText("missing");
    const std::string out = folder.PathText("out.upd");
    const struct {
        std::vector<std::string> args;
        int code;
        std::string message;
    } cases[] = {
        {{}, 2, "no command given"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{"make", a, a}, 2, "make needs ORIGINAL, CORRECTED and PATCH"},
        {{"make", "--speed", "9", a, a, out}, 2, "unknown option --speed"},
        {{"make", "--max-segment", "lots", a, a, out}, 2, "--max-segment needs a number"},
        {{"make", "--max-segment", "0", a, a, out}, 2, "at least 1"},
        {{"make", "--buffer-size", "99999999999", a, a, out}, 2, "--buffer-size needs a number"},
        {{"make", "--buffer-size", "100", a, a, out}, 1, "at least 256"},
        {{"make", "--buffer-size", "268435457", a, a, out}, 1, "at most 268435456"},
        {{"make", missing, a, out}, 1, "cannot open " + missing},
        {{"make", a, missing, out}, 1, "cannot open " + missing},
        {{"apply", a}, 2, "apply needs ORIGINAL and PATCH"},
        {{"apply", a, missing}, 1, "cannot open " + missing},
        {{"describe"}, 2, "describe needs PATCH"},
        {{"describe", missing}, 1, "cannot open " + missing},
        {{"describe", a}, 1, ""},
    };
    for (const auto& c : cases) {
        const ToolRun run = RunTool(c.args);
        const std::string name = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(run.code, c.code) << name << ' ' << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << name << ": " << run.err;
        EXPECT_FALSE(folder.Exists("out.upd")) << name;
    }
    const ToolRun help = RunTool({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("usage: q8r-avipatch make"), std::string::npos);
    EXPECT_TRUE(help.err.empty());
}

TEST_F(PatchToolTest, AnOutputThatIsAnInputUnderAnyNameIsRefused) {
    folder.Write("a", "abcdefgh");
    folder.Write("b", "abcdXYZefgh");
    ASSERT_TRUE(Files().link(folder.PathText("a").c_str(), folder.PathText("a-again").c_str()));
    const std::string a = folder.PathText("a");
    const std::string b = folder.PathText("b");
    const std::vector<std::string> cases[] = {
        {"make", a, b, a}, {"make", a, b, b}, {"make", a, b, folder.PathText("a-again")}, {"apply", a, a},
    };
    for (const auto& args : cases) {
        const ToolRun run = RunTool(args);
        EXPECT_EQ(run.code, 1) << args.back();
        EXPECT_NE(run.err.find("is the same file as the input"), std::string::npos) << run.err;
        EXPECT_EQ(folder.Read("a"), "abcdefgh");
        EXPECT_EQ(folder.Read("b"), "abcdXYZefgh");
        EXPECT_EQ(folder.Tree(), (std::vector<std::string>{"a", "a-again", "b"}));
    }
}

TEST_F(PatchToolTest, LongRunsShowProgressOnlyOnATerminal) {
    const Bytes original = RandomBytes(3 << 20, 19);
    folder.Write("a", Text(original));
    folder.Write("b", Text(Scatter(original, 4096, 20)));
    const std::string a = folder.PathText("a");
    const std::string patch = folder.PathText("out.upd");
    // Short segments give the table enough words for describe to report on.
    const struct {
        std::vector<std::string> args;
        std::string shown;
    } cases[] = {
        {{"make", "--max-segment", "64", a, folder.PathText("b"), patch}, "\rsearching for copies: 33 %"},
        {{"describe", patch, a}, "\rchecking: "},
        {{"apply", a, patch}, "\rapplying: 50 %"},
    };
    for (const auto& c : cases) {
        for (const bool terminal : {false, true}) {
            std::remove(folder.PathText("a.old").c_str());
            folder.Write("a", Text(original));
            if (c.args[0] == "make") std::remove(patch.c_str());
            const ToolRun run = RunTool(c.args, terminal);
            ASSERT_EQ(run.code, 0) << c.args[0] << ": " << run.err;
            if (!terminal) {
                EXPECT_EQ(run.err, "") << c.args[0];
                continue;
            }
            EXPECT_NE(run.err.find(c.shown), std::string::npos) << c.args[0];
            EXPECT_EQ(run.err.back(), '\r') << c.args[0];
        }
    }
}

// Each input that would ship a broken patch, or hide a mistake, is refused
// or named before anything is read or written.
TEST_F(PatchToolTest, BadInputsAreRefusedBeforeAnyWork) {
    const std::string a = folder.PathText("a"), b = folder.PathText("b"), empty = folder.PathText("empty");
    const std::string out = folder.PathText("out.upd");
    const std::string missing = folder.PathText("missing");
    const std::string nowhere = folder.PathText("no-folder/out.upd");
    const std::string folderOut = folder.PathText("folder");
    const struct {
        const char* name;
        std::vector<std::string> args;
        int code;
        std::string message;  // on standard error
        FileCall failing = kCallCount;
    } cases[] = {
        {"empty corrected", {"make", a, empty, out}, 1, empty + " is empty: its patch would empty the player's video"},
        {"empty corrected allowed", {"make", "--allow-empty", a, empty, out}, 0, ""},
        {"identical", {"make", a, folder.PathText("a-copy"), out}, 0, " are identical; the patch leaves the video as it is"},
        {"existing output", {"make", a, b, folder.PathText("old.upd")}, 1, "old.upd exists; --force replaces it"},
        {"existing output forced", {"make", "--force", a, b, folder.PathText("old.upd")}, 0, ""},
        {"output is a folder", {"make", "--force", a, b, folderOut}, 1, folderOut + " is a folder"},
        {"output in no folder", {"make", a, b, nowhere}, 1, "cannot create " + nowhere + ": "},
        {"missing original", {"make", missing, b, out}, 1, "cannot open " + missing + ": "},
        {"no memory", {"make", a, b, out}, 1, "needs about 0 MiB of memory", kCallAllocate},
        {"swapped", {"apply", folder.PathText("old.upd"), a}, 1,
         a + " is not a patch data file, but " + folder.PathText("old.upd") + " is: the order is apply ORIGINAL PATCH"},
        {"not a patch", {"apply", a, b}, 1, b + " is not a patch data file"},
        {"missing video", {"apply", missing, folder.PathText("old.upd")}, 1, "cannot open " + missing + ": "},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(folder.Root());
        std::filesystem::create_directories(folder.Root());
        folder.Write("a", "abcdefghijklmnopqrstuvwxyz");
        folder.Write("a-copy", "abcdefghijklmnopqrstuvwxyz");
        folder.Write("b", "abcdefghijklmnXYZopqrstuvwxyz");
        folder.Write("empty", "");
        folder.MakeFolder("folder");
        ASSERT_EQ(RunTool({"make", a, b, folder.PathText("old.upd")}).code, 0);
        const std::vector<std::string> before = folder.Tree();
        const std::string old = folder.Read("old.upd");
        ToolRun run;
        int reads = 0;
        {
            FaultyFileAccess faults(c.failing, c.failing == kCallCount ? 0 : 1);
            run = RunTool(c.args);
            reads = faults.Count(kCallRead);
        }
        EXPECT_EQ(run.code, c.code) << c.name << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
        EXPECT_EQ(run.err.find("no reason given"), std::string::npos) << c.name << ": " << run.err;
        if (c.code == 0) continue;
        EXPECT_EQ(folder.Tree(), before) << c.name;
        EXPECT_EQ(folder.Read("old.upd"), old) << c.name;
        if (c.args[0] == "make") {
            EXPECT_EQ(reads, 0) << c.name;
        }
    }
}

// The default never packs larger than --raw: both are weighed packed.
TEST_F(PatchToolTest, MakeKeepsTheCandidateThatPacksSmallest) {
    // Low-variety text, where the estimate prices literal bytes too low.
    std::mt19937 random(31);
    Bytes text;
    while (text.size() < 200000) {
        static const char* const words[] = {"the ", "cutscene ", "plays ", "after ", "mission ", "two, ", "and "};
        for (const char* w = words[random() % 7]; *w; ++w) text.push_back(static_cast<uint8_t>(*w));
    }
    const Pair pairs[] = {
        {"text", text, Scatter(Insert(text, 5000, RandomBytes(300, 32)), 700, 33), {}, 0},
        {"random", RandomBytes(200000, 34), Scatter(RandomBytes(200000, 34), 300, 35), {}, 0},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.name);
        PatchMakeOptions options;
        options.packedSize = [](const uint8_t*, size_t size) { return uint64_t{size}; };
        if (XzPackingAvailable()) options.packedSize = XzPackedSize;
        Bytes chosen, raw;
        std::vector<PatchCandidate> weighed;
        std::string error;
        ASSERT_TRUE(MakeAviPatch(pair.original.data(), pair.original.size(), pair.corrected.data(),
                                 pair.corrected.size(), options, &chosen, &error, &weighed));
        options.raw = true;
        ASSERT_TRUE(MakeAviPatch(pair.original.data(), pair.original.size(), pair.corrected.data(),
                                 pair.corrected.size(), options, &raw, &error));
        ASSERT_EQ(weighed.size(), std::size(kLiteralShares) + 1);
        EXPECT_EQ(weighed.back().prices, "raw");
        EXPECT_EQ(weighed.back().bytes, raw.size());
        uint64_t smallest = UINT64_MAX;
        for (const PatchCandidate& c : weighed) smallest = std::min(smallest, c.packed);
        for (const PatchCandidate& c : weighed) {
            if (c.chosen) {
                EXPECT_EQ(c.packed, smallest);
                EXPECT_EQ(c.bytes, chosen.size());
            }
        }
        EXPECT_LE(options.packedSize(chosen.data(), chosen.size()), options.packedSize(raw.data(), raw.size()));
    }
}

// Sparse files: only their last byte is written, and only their size is
// looked at before the refusal.
TEST_F(PatchToolTest, FilesTooLargeAreRefusedBeforeTheyAreRead) {
    const auto writeSized = [this](const char* name, uint64_t size) {
        std::ofstream file(folder.Root() / name, std::ios::binary);
        file.seekp(static_cast<std::streamoff>(size - 1));
        file.put('x');
    };
    folder.Write("small", "abcdefgh");
    writeSized("2gib", uint64_t{1} << 31);
    writeSized("huge", uint64_t{1} << 40);
    const std::string out = folder.PathText("out.upd");
    const struct {
        std::string original, corrected, message;
    } cases[] = {
        {"2gib", "small", "2147483648 bytes, more than the 2147483647 the format can address"},
        {"small", "huge", "needs about 3145728 MiB of memory, more than can be had"},
    };
    for (const auto& c : cases) {
        const ToolRun run = RunTool({"make", folder.PathText(c.original), folder.PathText(c.corrected), out});
        EXPECT_EQ(run.code, 1) << c.original;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(folder.Exists("out.upd"));
    }
}

TEST_F(PatchToolTest, FailedWriteLeavesNoPatchBehind) {
    folder.Write("a", "abcdefgh");
    folder.Write("b", "abcdXYZefgh");
    const std::vector<std::string> args = {"make", "--force", folder.PathText("a"), folder.PathText("b"),
                                           folder.PathText("out.upd")};
    // The first two closes are the inputs'.
    const std::pair<FileCall, int> cases[] = {
        {kCallOpen, 1}, {kCallWrite, 1}, {kCallFlush, 1}, {kCallClose, 3}, {kCallReplace, 1}};
    for (const auto& [call, failAt] : cases) {
        folder.Write("out.upd", "an older patch");
        ToolRun run;
        {
            FaultyFileAccess faults(call, failAt);
            run = RunTool(args);
        }
        EXPECT_EQ(run.code, 1) << FileCallName(call);
        EXPECT_NE(run.err.find("out.upd"), std::string::npos) << run.err;
        EXPECT_EQ(folder.Read("out.upd"), "an older patch") << FileCallName(call);
        EXPECT_FALSE(folder.Exists("out.upd.partial")) << FileCallName(call);
    }
}

#ifndef _WIN32
// A make stopped by Ctrl-C or a closed terminal ends as the signal ends it,
// and takes its half-written patch along; an older patch stays.
TEST_F(PatchToolTest, AnInterruptedMakeLeavesNoPartialPatch) {
    const Bytes original = RandomBytes(24 << 20, 21);
    folder.Write("a", Text(original));
    folder.Write("b", Text(Scatter(original, 4096, 22)));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        folder.Write("out.upd", "an older patch");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            RunTool({"make", "--force", folder.PathText("a"), folder.PathText("b"), folder.PathText("out.upd")});
            _exit(0);
        }
        // The side file is made before the inputs are read; a few seconds of
        // search follow.
        for (int i = 0; i < 3000 && !folder.Exists("out.upd.partial"); ++i) usleep(10000);
        EXPECT_TRUE(folder.Exists("out.upd.partial")) << signal;
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " " << status;
        EXPECT_FALSE(folder.Exists("out.upd.partial")) << signal;
        EXPECT_EQ(folder.Read("out.upd"), "an older patch") << signal;
    }
}
#endif

}  // namespace
