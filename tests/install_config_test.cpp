#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "install_config.h"
#include "support/faulty_file_access.h"
#include "support/platform_scope.h"
#include "support/scratch_folder.h"

namespace {

using Lines = std::vector<std::string>;

Lines LinesOf(const ConfigLines& read) {
    Lines lines;
    ForEachConfigLine(read, [&](std::string_view line, bool) { lines.emplace_back(line); });
    return lines;
}

// The text whose lines are `lines`, as a file with LF line ends holds them.
ConfigLines HeldLines(const Lines& lines) {
    ConfigLines read;
    read.held = read.opened = true;
    for (size_t i = 0; i < lines.size(); ++i) read.text += (i ? "\n" : "") + lines[i];
    return read;
}

struct ReadCase {
    const char* name;
    std::string bytes;
    Lines lines;
};

TEST(ReadConfigLines, SplitsLinesUpToTheEndMarker) {
    const ReadCase cases[] = {
        {"empty file", "", {""}},
        {"end marker first", std::string("\x1A" "A\r\n"), {""}},
        {"CR LF ends", "A\r\nB\r\n", {"A", "B", ""}},
        {"LF ends", "A\nB\n", {"A", "B", ""}},
        {"no final line end", "A\r\nB", {"A", "B"}},
        {"CR inside a line stays", "A\rB\r\n", {"A\rB", ""}},
        {"lone CR at the end stays", "A\r", {"A\r"}},
        {"data after the marker is ignored", std::string("A\r\n\x1A" "B\r\nC"), {"A", ""}},
        {"marker inside a line", std::string("AB\x1A" "C\r\n"), {"AB"}},
        {"empty lines kept", "\r\n\n", {"", "", ""}},
    };
    for (const ReadCase& c : cases) {
        ScratchFolder folder;
        folder.Write("Darkinst.cfg", c.bytes);
        const ConfigLines read = ReadConfigLines(folder.PathText("Darkinst.cfg").c_str());
        EXPECT_TRUE(read.opened) << c.name;
        EXPECT_EQ(LinesOf(read), c.lines) << c.name;
    }
}

TEST(ReadConfigLines, ReadsLongLinesAcrossChunks) {
    ScratchFolder folder;
    const std::string longLine(10000, 'x');
    folder.Write("install.cfg", longLine + "\r\nB");
    const ConfigLines read = ReadConfigLines(folder.PathText("install.cfg").c_str());
    EXPECT_EQ(LinesOf(read), (Lines{longLine, "B"}));
}

TEST(ReadConfigLines, ReportsAFileThatCannotBeReadWhole) {
    ScratchFolder folder;
    folder.Write("big.cfg", std::string(9000, 'x'));
    folder.Write("empty.cfg", "");
    folder.MakeFolder("folder.cfg");

    EXPECT_FALSE(ReadConfigLines(folder.PathText("missing.cfg").c_str()).opened);
    EXPECT_TRUE(LinesOf(ReadConfigLines(folder.PathText("missing.cfg").c_str())).empty());
    EXPECT_FALSE(ReadConfigLines(folder.PathText("folder.cfg").c_str()).opened);
    for (int failAt : {1, 2, 3}) {
        FaultyFileAccess faults(kCallRead, failAt);
        const ConfigLines read = ReadConfigLines(folder.PathText("big.cfg").c_str());
        EXPECT_FALSE(read.opened) << "read " << failAt << " failed";
        // What came before the break is kept, as at the end of the file.
        const Lines lines = LinesOf(read);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_LT(lines[0].size(), 9000u);
        EXPECT_EQ(lines[0], std::string(lines[0].size(), 'x'));
    }
    // An empty file reads nothing and is whole; only its size tells it from
    // one whose read failed, so a size that cannot be had is no file.
    EXPECT_TRUE(ReadConfigLines(folder.PathText("empty.cfg").c_str()).opened);
    {
        FaultyFileAccess faults(kCallSize, 1);
        EXPECT_FALSE(ReadConfigLines(folder.PathText("empty.cfg").c_str()).opened);
    }
}

// A file the memory cannot hold is one that cannot be read: nothing of it is
// kept, and nothing ends the program.
TEST(ReadConfigLines, AFileTooLargeForMemoryCountsAsUnreadable) {
    ScratchFolder folder;
    folder.Write("Darkinst.cfg", "install_path C:\\T2\r\n");
    FileAccess exhausted = Files();
    exhausted.read = [](FileHandle*, void*, size_t) -> size_t { throw std::bad_alloc(); };
    PlatformScope scope(WithFiles(exhausted));
    const ConfigLines read = ReadConfigLines(folder.PathText("Darkinst.cfg").c_str());
    EXPECT_FALSE(read.opened);
    EXPECT_TRUE(LinesOf(read).empty());
}

TEST(ConfigKeys, ValueStartsAfterOneSeparatorWhereverTheKeyStands) {
    struct Case {
        std::string line;
        const ConfigKey* key;
        bool hasValue;
        std::string value;
    };
    const Case cases[] = {
        {"install_path C:\\Games\\Thief2", &kInstallPathKey, true, "C:\\Games\\Thief2"},
        {"install_path  C:\\Games", &kInstallPathKey, true, " C:\\Games"},
        {"install_path\tC:\\Games\\ ", &kInstallPathKey, true, "C:\\Games\\ "},
        {"install_path ", &kInstallPathKey, true, ""},
        {"install_path", &kInstallPathKey, false, ""},
        {"; install_path C:\\G", &kInstallPathKey, true, "h C:\\G"},
        {"load_path L", &kLoadPathKey, true, "L"},
        {"movie_path M", &kMoviePathKey, true, "M"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HasValue(c.line, *c.key), c.hasValue) << c.line;
        EXPECT_EQ(KeyValue(c.line, *c.key), c.value) << c.line;
    }
}

// Withholds the line end of every line "M", as a step does for an edited
// movie_path line.
LineEnd WithholdM(std::string& line) {
    return line == "M" ? kWithheldLineEnd : kWithLineEnd;
}

TEST(BuildConfigText, NeverJoinsTwoLines) {
    struct Case {
        Lines lines;
        std::string text;
    };
    const Case cases[] = {
        {{""}, "\n"},
        {{"A", "B", ""}, "A\nB\n\n"},
        {{"A", "B"}, "A\nB\n"},
        {{"A", "M"}, "A\nM"},
        {{"A", "M", ""}, "A\nM\n"},
        {{"M", "X"}, "M\nX\n"},
        {{"M", "X", ""}, "M\nX\n\n"},
        {{"M", "M"}, "M\nM"},
        {{"M", "M", ""}, "M\nM\n"},
        {{"M", "", ""}, "M\n\n\n"},
        {{"M", "", "X"}, "M\n\nX\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildConfigText(HeldLines(c.lines), WithholdM), c.text) << ::testing::PrintToString(c.lines);
    }
}

TEST(WriteConfigText, WritesCrLfLineEndsAndOneEndMarker) {
    struct Case {
        std::string before;  // "<missing>": no file yet
        std::string text;
        std::string bytes;
        std::string name = "Darkinst.cfg";  // as the folder spells it; asked for as Darkinst.cfg
    };
    const Case cases[] = {
        {"<missing>", "\n", "\r\n\x1A"},
        {"<missing>", "", "\x1A"},
        {"<missing>", "A\nB\n\n", "A\r\nB\r\n\r\n\x1A"},
        {"<missing>", "A\rB\n", "A\rB\r\n\x1A"},
        {"a much longer file than what replaces it\r\n\x1A", "A\n", "A\r\n\x1A"},
        {"", "movie_path M", "movie_path M\x1A"},
        {"old\r\n\x1A", "A\n", "A\r\n\x1A", "DARKINST.CFG"},
    };
    for (const Case& c : cases) {
        ScratchFolder folder;
        if (c.before != "<missing>") folder.Write(c.name, c.before);
        EXPECT_TRUE(WriteConfigText(folder.PathText("Darkinst.cfg").c_str(), c.text));
        EXPECT_EQ(folder.Read(c.name), c.bytes);
        EXPECT_EQ(folder.Tree(), (Lines{c.name}));
    }
}

TEST(WriteConfigText, ReadingWhatItWroteGivesNoEndMarker) {
    ScratchFolder folder;
    const std::string path = folder.PathText("Darkinst.cfg");
    ASSERT_TRUE(WriteConfigText(path.c_str(), "A\nB\n"));
    const ConfigLines first = ReadConfigLines(path.c_str());
    EXPECT_EQ(LinesOf(first), (Lines{"A", "B", ""}));
    ASSERT_TRUE(WriteConfigText(path.c_str(), BuildConfigText(first, WithholdM)));
    EXPECT_EQ(folder.Read("Darkinst.cfg"), "A\r\nB\r\n\r\n\x1A");
}

TEST(WriteConfigText, TakesThePlaceOfAStaleTemporaryFile) {
    ScratchFolder folder;
    folder.Write("Darkinst.cfg.q8r-tmp", "left by a run that was cut off");
    EXPECT_TRUE(WriteConfigText(folder.PathText("Darkinst.cfg").c_str(), "A\n"));
    EXPECT_EQ(folder.Read("Darkinst.cfg"), "A\r\n\x1A");
    EXPECT_EQ(folder.Tree(), (Lines{"Darkinst.cfg"}));
}

TEST(WriteConfigText, AFailedWriteLeavesTheFileAsItWas) {
    struct Case {
        FileCall call;
        int failAt;
        bool existed;  // an existing file is first opened to see it may be changed
    };
    const Case cases[] = {
        {kCallOpen, 1, true}, {kCallOpen, 2, true}, {kCallWrite, 1, true}, {kCallFlush, 1, true},
        {kCallClose, 2, true}, {kCallReplace, 1, true}, {kCallOpen, 1, false}, {kCallWrite, 1, false},
        {kCallFlush, 1, false}, {kCallClose, 1, false}, {kCallReplace, 1, false},
    };
    const std::string original = "install_path C:\\Games\\Thief2\r\nresname_base R\r\n";
    for (const Case& c : cases) {
        const std::string name = std::string(FileCallName(c.call)) + " " + std::to_string(c.failAt);
        ScratchFolder folder;
        if (c.existed) folder.Write("Darkinst.cfg", original);
        bool written = true;
        {
            FaultyFileAccess faults(c.call, c.failAt);
            written = WriteConfigText(folder.PathText("Darkinst.cfg").c_str(), std::string(5000, 'x') + "\n");
            EXPECT_TRUE(faults.Failed()) << name;
        }
        EXPECT_FALSE(written) << name;
        if (c.existed) {
            EXPECT_EQ(folder.Read("Darkinst.cfg"), original) << name;
            EXPECT_EQ(folder.Tree(), (Lines{"Darkinst.cfg"})) << name;
        } else {
            EXPECT_TRUE(folder.Tree().empty()) << name;
        }
    }
}

}  // namespace
