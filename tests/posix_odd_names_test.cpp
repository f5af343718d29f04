// Names read from a folder are bytes: a backslash or a byte outside ASCII in
// one is part of the name, never a separator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_operations.h"
#include "support/scratch_folder.h"

namespace {

TEST(PosixOddNames, ItemsMoveAndCopyUnderTheNamesReadFromTheirFolder) {
    ScratchFolder game;
    game.Write("books/english/intro\\page2.str", "p");
    game.Write("books/english/x\\y.str", "x");
    game.Write("books/english/Brief an M\xfc" "ller.str", "l");
    game.MakeFolder("books/intro");
    game.Write("saves/game0000\\file.sav", "s");
    game.MakeFolder("q8r");

    EXPECT_EQ(MoveFiles(game.PathText("books/english/*").c_str(), game.PathText("books").c_str()), 0);
    EXPECT_EQ(CopyFiles(game.PathText("saves").c_str(), game.PathText("q8r").c_str()), 0);

    const std::vector<std::string> expected = {
        "books/", "books/Brief an M\xfc" "ller.str", "books/english/", "books/intro/", "books/intro\\page2.str",
        "books/x\\y.str", "q8r/", "q8r/saves/", "q8r/saves/game0000\\file.sav", "saves/", "saves/game0000\\file.sav",
    };
    EXPECT_EQ(game.Tree(), expected);
}

}  // namespace
