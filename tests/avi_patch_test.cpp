#include "avi_patch.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform.h"
#include "support/faulty_file_access.h"
#include "support/platform_scope.h"
#include "support/scratch_folder.h"
#include "support/worked_example.h"

namespace {

std::string Word(uint32_t value) {
    std::string bytes(4, '\0');
    StoreLittle32(reinterpret_cast<uint8_t*>(bytes.data()), value);
    return bytes;
}

uint32_t Checksum(const std::string& bytes) {
    return SegmentChecksum(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

struct PatchSpec {
    std::vector<uint32_t> table;
    std::string literal;
    uint32_t bufferSize = 256;
    uint32_t originalSize = 8;
    int64_t wordCount = -1;  // -1: the table's own
    int64_t tableSum = -1;   // -1: the right one
};

std::string BuildPatch(const PatchSpec& spec) {
    std::string table;
    uint32_t sum = 0;
    for (uint32_t value : spec.table) {
        table += Word(value);
        sum += value;
    }
    return std::string(kAviPatchMagic, 16) + Word(spec.bufferSize) + Word(spec.originalSize) +
           Word(spec.wordCount < 0 ? static_cast<uint32_t>(spec.table.size()) : static_cast<uint32_t>(spec.wordCount)) +
           Word(spec.tableSum < 0 ? sum : static_cast<uint32_t>(spec.tableSum)) + table + spec.literal;
}

PatchSpec ExampleSpec() {
    return {{4, Checksum("abcd"), 0, kLiteralFlag | 3, Checksum("XYZ"), 4, Checksum("efgh"), 4}, "XYZ"};
}

std::vector<std::pair<uint32_t, uint32_t>> progressCalls;
void RecordProgress(uint32_t done, uint32_t total) {
    progressCalls.emplace_back(done, total);
}

// A game's movies folder with one video and its patch.
class AviPatchTest : public ::testing::Test {
protected:
    void SetUp() override { progressCalls.clear(); }

    void Lay(const std::string& patch, const std::string& original = kOriginal) {
        folder.Write("CS18.avi", original);
        folder.Write("CS18.avi.upd", patch);
    }
    PatchResult Apply(PatchProgress progress = RecordProgress) {
        return ApplyAviPatch(folder.PathText("CS18.avi").c_str(), folder.PathText("CS18.avi.upd").c_str(), progress);
    }
    std::vector<std::string> Tree() const { return folder.Tree(); }
    void ClearSideFiles() const {
        std::remove(folder.PathText("CS18.avi.new").c_str());
        std::remove(folder.PathText("CS18.avi.old").c_str());
    }

    ScratchFolder folder;
};

const std::vector<std::string> kUntouched = {"CS18.avi", "CS18.avi.upd"};
const std::vector<std::string> kPatched = {"CS18.avi", "CS18.avi.old", "CS18.avi.upd"};
const std::vector<std::string> kWalkFailed = {"CS18.avi", "CS18.avi.new", "CS18.avi.upd"};

TEST(SegmentChecksum, AddsPaddedLittleEndianWords) {
    const struct {
        std::string bytes;
        uint32_t sum;
    } cases[] = {
        {"", 0},
        {"a", 0x61},
        {"abc", 0x00636261},
        {"abcd", 0x64636261},
        {"abcdefg", 0x64CAC8C6},
        {std::string("\xFF\xFF\xFF\xFF\x01\x00\x00\x00", 8), 0},  // wraps modulo 2^32
    };
    for (const auto& c : cases) EXPECT_EQ(Checksum(c.bytes), c.sum) << '"' << c.bytes << '"';
}

TEST(SegmentChecksum, MatchesAWordByWordSumAtAnyAlignmentAndLength) {
    std::vector<uint8_t> bytes(4096 + 8);
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(k * 131 + 7);
    for (size_t start = 0; start < 4; ++start) {
        for (size_t length : {1u, 2u, 3u, 5u, 63u, 64u, 65u, 1023u, 4096u}) {
            uint32_t expected = 0;
            for (size_t k = 0; k < length; ++k) expected += uint32_t{bytes[start + k]} << (8 * (k % 4));
            EXPECT_EQ(SegmentChecksum(bytes.data() + start, length), expected) << start << '+' << length;
        }
    }
}

TEST(PatchResultMessage, GivesTheFixedTextAndUnknownForEveryOtherCode) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "Patch Successful"},
        {1, "Can't Open Data File"},
        {2, "Can't Open Original Avi File."},
        {3, "Unexpected End of Data File"},
        {4, "Incorrect Data File"},
        {5, "Corrupt Data File"},
        {6, "Insufficient Memory Available"},
        {7, "Incorrect Original Avi File\nFile may all ready be patched."},
        {8, "Can't Create New Avi File"},
        {9, "Incorrect or Corrupt Original Avi File"},
        {10, "Unknown Error Has Occurred"},
        {11, "Unknown Error Has Occurred"},
        {-1, "Unknown Error Has Occurred"},
        {INT_MIN, "Unknown Error Has Occurred"},
        {INT_MAX, "Unknown Error Has Occurred"},
    };
    for (const auto& [code, text] : cases) EXPECT_STREQ(PatchResultMessage(code), text) << code;
}

TEST(AviPatchHeader, DecodesLittleEndianFieldsFromBytes) {
    const AviPatchHeader header = DecodeAviPatchHeader(reinterpret_cast<const uint8_t*>(kExamplePatch.data()));
    EXPECT_EQ(std::string(header.magic, 16), "Q8R_AviPatchData");
    EXPECT_EQ(header.bufferSize, 256u);
    EXPECT_EQ(header.originalSize, 8u);
    EXPECT_EQ(header.wordCount, 8u);
    EXPECT_EQ(header.tableSum, 0x4D25222Du);
    uint8_t again[kAviPatchHeaderSize];
    EncodeAviPatchHeader(header, again);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(again), 32), kExamplePatch.substr(0, 32));
}

TEST_F(AviPatchTest, AppliesTheDocumentedExample) {
    ASSERT_EQ(BuildPatch(ExampleSpec()), kExamplePatch);
    Lay(kExamplePatch);
    EXPECT_EQ(Apply(), PatchSuccessful);
    EXPECT_EQ(folder.Read("CS18.avi"), kCorrected);
    EXPECT_EQ(folder.Read("CS18.avi.old"), kOriginal);
    EXPECT_EQ(folder.Read("CS18.avi.upd"), kExamplePatch);
    EXPECT_EQ(Tree(), kPatched);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {{1, 8}, {3, 8}, {6, 8}};
    EXPECT_EQ(progressCalls, expected);
}

TEST_F(AviPatchTest, FindsTheVideoWhateverTheCaseOfItsName) {
    Lay(kExamplePatch);
    EXPECT_EQ(ApplyAviPatch(folder.PathText("cs18.AVI").c_str(), folder.PathText("Cs18.Avi.UPD").c_str(), nullptr),
              PatchSuccessful);
    EXPECT_EQ(folder.Read("CS18.avi"), kCorrected);
}

TEST_F(AviPatchTest, ExtraBytesAfterTheLiteralDataChangeNothing) {
    Lay(kExamplePatch + "trailing bytes");
    EXPECT_EQ(Apply(), PatchSuccessful);
    EXPECT_EQ(folder.Read("CS18.avi"), kCorrected);
}

TEST_F(AviPatchTest, ChecksTheHeaderBeforeTouchingTheVideo) {
    const auto withByte = [](size_t offset, char value) {
        std::string patch = kExamplePatch;
        patch[offset] = value;
        return patch;
    };
    const auto withField = [](uint32_t bufferSize, int64_t wordCount) {
        PatchSpec spec = ExampleSpec();
        spec.bufferSize = bufferSize;
        spec.wordCount = wordCount;
        return BuildPatch(spec);
    };
    std::vector<std::pair<std::string, PatchResult>> cases;
    for (size_t offset = 0; offset < 16; ++offset) {
        cases.emplace_back(withByte(offset, 'x'), IncorrectDataFile);
        cases.emplace_back(withByte(offset, '\0'), IncorrectDataFile);
        cases.emplace_back(withByte(offset, static_cast<char>(kExamplePatch[offset] ^ 0x20)), IncorrectDataFile);
    }
    cases.emplace_back(withField(0, 8), CorruptDataFile);
    cases.emplace_back(withField(255, 8), CorruptDataFile);
    cases.emplace_back(withField(256, 8), PatchSuccessful);
    cases.emplace_back(withField(0x100000, 8), PatchSuccessful);
    cases.emplace_back(withField(2000000, 8), PatchSuccessful);
    cases.emplace_back(withField(256, 0), CorruptDataFile);
    cases.emplace_back(withField(256, 1), CorruptDataFile);
    // Larger tables than 32-bit sizes can hold are refused with the other
    // header checks, before any allocation.
    cases.emplace_back(withField(256, 0x40000000), CorruptDataFile);
    cases.emplace_back(withField(256, 0xFFFFFFFF), CorruptDataFile);
    cases.emplace_back(withField(255, 0xFFFFFFFF), CorruptDataFile);
    // A bad magic wins over a bad buffer size.
    cases.emplace_back(withByte(0, 'q').substr(0, 16) + withField(255, 1).substr(16), IncorrectDataFile);
    for (size_t k = 0; k < cases.size(); ++k) {
        ClearSideFiles();
        Lay(cases[k].first);
        const PatchResult code = Apply(nullptr);
        EXPECT_EQ(code, cases[k].second) << "case " << k;
        if (code != PatchSuccessful) {
            EXPECT_EQ(Tree(), kUntouched) << "case " << k;
            EXPECT_EQ(folder.Read("CS18.avi"), kOriginal) << "case " << k;
        }
    }
}

TEST_F(AviPatchTest, MissingDataFileLeavesEverythingAlone) {
    folder.Write("CS18.avi", kOriginal);
    EXPECT_EQ(Apply(), CantOpenDataFile);
    EXPECT_EQ(Tree(), std::vector<std::string>{"CS18.avi"});
    EXPECT_TRUE(progressCalls.empty());
}

TEST_F(AviPatchTest, BadTableSumIsReportedBeforeTheVideoIsLookedFor) {
    PatchSpec spec = ExampleSpec();
    spec.tableSum = 0x4D25222E;
    folder.Write("CS18.avi.upd", BuildPatch(spec));
    EXPECT_EQ(Apply(), IncorrectDataFile);
    folder.Write("CS18.avi.upd", kExamplePatch);
    EXPECT_EQ(Apply(), CantOpenOriginal);
    EXPECT_EQ(Tree(), std::vector<std::string>{"CS18.avi.upd"});
}

TEST_F(AviPatchTest, VideoOfAnotherSizeIsNotTouched) {
    for (const std::string& video : {std::string("abcdefg"), std::string("abcdefghi"), kCorrected}) {
        Lay(kExamplePatch, video);
        EXPECT_EQ(Apply(), IncorrectOriginal) << video;
        EXPECT_EQ(folder.Read("CS18.avi"), video);
        EXPECT_EQ(Tree(), kUntouched);
    }
}

TEST_F(AviPatchTest, SegmentThatFailsItsChecksumIsNotWritten) {
    const struct {
        size_t word;
        PatchResult code;
        std::string written;
        std::vector<std::pair<uint32_t, uint32_t>> progress;
    } cases[] = {
        {1, CorruptOriginal, "", {}},
        {4, IncorrectDataFile, "abcd", {{1, 8}}},
        {6, CorruptOriginal, "abcdXYZ", {{1, 8}, {3, 8}}},
    };
    for (const auto& c : cases) {
        for (PatchProgress progress : {PatchProgress{RecordProgress}, PatchProgress{nullptr}}) {
            PatchSpec spec = ExampleSpec();
            spec.table[c.word] += 1;
            Lay(BuildPatch(spec));
            // A new file from an earlier attempt is started afresh.
            folder.Write("CS18.avi.new", "stale content, longer than any segment");
            progressCalls.clear();
            EXPECT_EQ(Apply(progress), c.code) << c.word;
            EXPECT_EQ(folder.Read("CS18.avi.new"), c.written) << c.word;
            EXPECT_EQ(folder.Read("CS18.avi"), kOriginal);
            EXPECT_EQ(Tree(), kWalkFailed);
            if (progress) {
                EXPECT_EQ(progressCalls, c.progress) << c.word;
            }
        }
    }
}

TEST_F(AviPatchTest, CopyPastTheEndOfTheVideoIsAnUnexpectedEnd) {
    const struct {
        uint32_t length, offset;
    } cases[] = {{4, 5}, {1, 8}, {9, 0}, {4, 0xFFFFFFF0}};
    for (const auto& c : cases) {
        PatchSpec spec = ExampleSpec();
        spec.table[5] = c.length;
        spec.table[7] = c.offset;
        Lay(BuildPatch(spec));
        EXPECT_EQ(Apply(), UnexpectedEnd) << c.length << '@' << c.offset;
        EXPECT_EQ(folder.Read("CS18.avi.new"), "abcdXYZ");
    }
}

TEST_F(AviPatchTest, EmptySegmentsAndEmptyResultAreFine) {
    PatchSpec spec{{kLiteralFlag, 0, 0, 0, 8}, ""};
    Lay(BuildPatch(spec));
    EXPECT_EQ(Apply(), PatchSuccessful);
    EXPECT_EQ(folder.Read("CS18.avi"), "");
    EXPECT_EQ(folder.Read("CS18.avi.old"), kOriginal);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {{0, 5}, {3, 5}};
    EXPECT_EQ(progressCalls, expected);
}

TEST_F(AviPatchTest, TruncatedPatchIsAnUnexpectedEndAtEveryLength) {
    for (size_t length = 0; length < kExamplePatch.size(); ++length) {
        Lay(kExamplePatch.substr(0, length));
        ClearSideFiles();
        EXPECT_EQ(Apply(nullptr), UnexpectedEnd) << length;
        EXPECT_EQ(folder.Read("CS18.avi"), kOriginal);
        // Cut in the header or table: nothing created. Cut in the literal
        // bytes: the copy before them was written.
        if (length < 64) {
            EXPECT_EQ(Tree(), kUntouched) << length;
        } else {
            EXPECT_EQ(folder.Read("CS18.avi.new"), "abcd") << length;
        }
    }
}

// Files that claim more than their table or buffer holds are refused before
// a new file is made.
TEST_F(AviPatchTest, EntriesReachingOutsideTheTableOrBufferAreCorrupt) {
    const uint32_t longest = kMinimumPatchBuffer - 8;
    const struct {
        const char* name;
        PatchSpec spec;
    } cases[] = {
        {"copy entry in two words", {{4, Checksum("abcd")}, ""}},
        {"copy entry cut after a literal", {{kLiteralFlag | 1, 'X', 4, Checksum("abcd")}, "X"}},
        {"trailing copy entry of one word", {{kLiteralFlag | 1, 'X', 4, Checksum("abcd"), 0, 4}, "X"}},
        {"literal entry in the last word", {{4, Checksum("abcd"), 0, kLiteralFlag | 1}, "X"}},
        {"literal longer than the buffer", {{kLiteralFlag | (longest + 1), 0}, std::string(longest + 1, '\0')}},
        {"copy longer than the buffer", {{longest + 1, 0, 0}, ""}},
        {"copy of 2^31 - 1", {{0x7FFFFFFF, 0, 0}, ""}},
        {"literal of 2^31 - 1", {{0xFFFFFFFF, 0}, ""}},
        {"larger header buffer, one byte over", {{kLiteralFlag | 1999993, 0}, std::string(1999993, '\0'), 2000000}},
    };
    for (const auto& c : cases) {
        Lay(BuildPatch(c.spec));
        EXPECT_EQ(Apply(), CorruptDataFile) << c.name;
        EXPECT_EQ(Tree(), kUntouched) << c.name;
        EXPECT_EQ(folder.Read("CS18.avi"), kOriginal);
    }
}

TEST_F(AviPatchTest, SegmentsUpToTheBufferSizeLessEightFit) {
    const struct {
        uint32_t bufferSize;
        uint32_t length;
    } cases[] = {{256, kMinimumPatchBuffer - 8}, {2000000, 1999992}};
    for (const auto& c : cases) {
        std::string bytes(c.length, '\0');
        for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k * 7);
        Lay(BuildPatch({{kLiteralFlag | c.length, Checksum(bytes)}, bytes, c.bufferSize}));
        EXPECT_EQ(Apply(), PatchSuccessful) << c.bufferSize;
        EXPECT_EQ(folder.Read("CS18.avi"), bytes);
        ClearSideFiles();
    }
}

// Every failure to get the new file onto the disk or into place is a
// failure, and leaves the video as it was and no side files.
TEST_F(AviPatchTest, FailedWriteFlushCloseOrReplaceIsNeverSuccess) {
    const struct {
        FileCall call;
        int failAt;
    } cases[] = {
        {kCallOpen, 1}, {kCallWrite, 1}, {kCallFlush, 1}, {kCallClose, 1}, {kCallReplace, 1},
    };
    for (const auto& c : cases) {
        Lay(kExamplePatch);
        PatchResult code;
        {
            FaultyFileAccess faults(c.call, c.failAt);
            code = Apply();
            EXPECT_TRUE(faults.Failed()) << FileCallName(c.call) << c.failAt;
        }
        EXPECT_EQ(code, CantCreateNewFile) << FileCallName(c.call) << c.failAt;
        EXPECT_EQ(folder.Read("CS18.avi"), kOriginal);
        EXPECT_EQ(Tree(), kUntouched) << FileCallName(c.call) << c.failAt;
    }
}

TEST_F(AviPatchTest, NewFileIsOnTheDiskBeforeItTakesTheVideosPlace) {
    Lay(kExamplePatch);
    FaultyFileAccess faults(kCallCount, 0);
    EXPECT_EQ(Apply(), PatchSuccessful);
    EXPECT_EQ(faults.Count(kCallFlush), 1);
    EXPECT_EQ(faults.Count(kCallReplace), 1);
    EXPECT_EQ(faults.Count(kCallRename), 0);
    // The backup is a second name of the original, not a copy of its bytes:
    // the one write is the new file's, its segments gathered in the buffer.
    EXPECT_EQ(faults.Count(kCallWrite), 1);
}

TEST_F(AviPatchTest, BackupLeftFromAnEarlierRunDoesNotStopThePatch) {
    for (int failRemove : {0, 2}) {
        Lay(kExamplePatch);
        folder.Write("CS18.avi.old", "an older backup");
        {
            // Even when the old backup cannot be removed (the second remove;
            // the first clears the way for the new file) it is overwritten.
            FaultyFileAccess faults(kCallRemove, failRemove);
            EXPECT_EQ(Apply(), PatchSuccessful) << failRemove;
        }
        EXPECT_EQ(folder.Read("CS18.avi"), kCorrected);
        EXPECT_EQ(folder.Read("CS18.avi.old"), kOriginal);
        EXPECT_EQ(Tree(), kPatched);
    }
}

// A name the new file is to take that is already a second name of the video,
// or of a saved game, is made afresh, never written through.
TEST_F(AviPatchTest, ANewFileNameThatIsAHardLinkIsNeverWrittenThrough) {
    for (const char* linked : {"CS18.avi", "game.sav"}) {
        Lay(kExamplePatch);
        folder.Write("game.sav", "a saved game");
        ASSERT_TRUE(Files().link(folder.PathText(linked).c_str(), folder.PathText("CS18.avi.new").c_str()));

        EXPECT_EQ(Apply(), PatchSuccessful) << linked;
        EXPECT_EQ(folder.Read("CS18.avi"), kCorrected) << linked;
        EXPECT_EQ(folder.Read("CS18.avi.old"), kOriginal) << linked;
        EXPECT_EQ(folder.Read("game.sav"), "a saved game") << linked;
        EXPECT_FALSE(folder.Exists("CS18.avi.new")) << linked;
    }
}

// A layer over the one installed that has no hard links, as on FAT drives.
FileAccess WithoutHardLinks() {
    FileAccess files = Files();
    files.link = [](const char*, const char*) { return false; };
    return files;
}

TEST_F(AviPatchTest, BackupIsCopiedWhereHardLinksAreMissing) {
    Lay(kExamplePatch);
    folder.Write("CS18.avi.old", "an older backup that is longer than the video");
    {
        PlatformScope noLinks(WithFiles(WithoutHardLinks()));
        EXPECT_EQ(Apply(), PatchSuccessful);
    }
    EXPECT_EQ(folder.Read("CS18.avi"), kCorrected);
    EXPECT_EQ(folder.Read("CS18.avi.old"), kOriginal);
    EXPECT_EQ(Tree(), kPatched);
}

TEST_F(AviPatchTest, FailedBackupCopyIsNeverSuccess) {
    // The new file's calls come first, then the three files of the run are
    // closed: write 2, flush 2 and close 5 are the backup copy's.
    const struct {
        FileCall call;
        int failAt;
    } cases[] = {{kCallOpen, 2}, {kCallWrite, 2}, {kCallFlush, 2}, {kCallClose, 5}};
    for (const auto& c : cases) {
        Lay(kExamplePatch);
        PatchResult code;
        {
            FaultyFileAccess faults(c.call, c.failAt);
            PlatformScope noLinks(WithFiles(WithoutHardLinks()));
            code = Apply();
            EXPECT_TRUE(faults.Failed()) << FileCallName(c.call) << c.failAt;
        }
        EXPECT_EQ(code, CantCreateNewFile) << FileCallName(c.call) << c.failAt;
        EXPECT_EQ(folder.Read("CS18.avi"), kOriginal);
        EXPECT_EQ(Tree(), kUntouched) << FileCallName(c.call) << c.failAt;
    }
}

// After every call that changes a file, the video's name holds either the
// original or the complete corrected video, so a crash at any point loses
// nothing.
const std::string* watchedVideo = nullptr;
std::vector<std::string> videoStates;

void NoteVideo() {
    const FileAccess& real = kNativeFileAccess;
    std::string content = "<missing>";
    if (FileHandle* file = real.open(watchedVideo->c_str(), kOpenForReading)) {
        char bytes[64];
        content.assign(bytes, real.read(file, bytes, sizeof bytes));
        real.close(file);
    }
    videoStates.push_back(content);
}

template <typename Call>
auto Watched(Call call) {
    auto result = call();
    NoteVideo();
    return result;
}

TEST_F(AviPatchTest, VideoNameIsNeverEmptyOrPartial) {
    for (bool links : {true, false}) {
        Lay(kExamplePatch);
        folder.Write("CS18.avi.old", "an older backup");
        const std::string video = folder.PathText("CS18.avi");
        watchedVideo = &video;
        videoStates.clear();
        FileAccess watching = kNativeFileAccess;
        if (!links) watching.link = [](const char*, const char*) { return false; };
        watching.write = [](FileHandle* f, const void* d, size_t s) { return Watched([&] { return kNativeFileAccess.write(f, d, s); }); };
        watching.flush = [](FileHandle* f) { return Watched([&] { return kNativeFileAccess.flush(f); }); };
        watching.close = [](FileHandle* f) { return Watched([&] { return kNativeFileAccess.close(f); }); };
        watching.rename = [](const char* a, const char* b) { return Watched([&] { return kNativeFileAccess.rename(a, b); }); };
        watching.replace = [](const char* a, const char* b) { return Watched([&] { return kNativeFileAccess.replace(a, b); }); };
        watching.remove = [](const char* a) { return Watched([&] { return kNativeFileAccess.remove(a); }); };
        if (links) {
            watching.link = [](const char* a, const char* b) { return Watched([&] { return kNativeFileAccess.link(a, b); }); };
        }
        PatchResult code;
        {
            PlatformScope watched(WithFiles(watching));
            code = Apply();
        }
        EXPECT_EQ(code, PatchSuccessful);
        ASSERT_FALSE(videoStates.empty());
        for (const std::string& state : videoStates) {
            EXPECT_TRUE(state == kOriginal || state == kCorrected) << state << (links ? " (links)" : " (copy)");
        }
        EXPECT_EQ(videoStates.back(), kCorrected);
        EXPECT_EQ(folder.Read("CS18.avi.old"), kOriginal);
    }
}

}  // namespace
