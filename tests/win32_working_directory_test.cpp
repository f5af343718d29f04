// The patcher's folder as the ANSI file functions take it, also where the
// code page cannot spell its name.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/scratch_folder.h"
#include "working_directory.h"

namespace {

// "Вор 2": Cyrillic letters, which a Western code page reads back as '?'.
TEST(WorkingDirectory, NamesAFolderWhoseNameTheCodePageCannotSpell) {
    ScratchFolder scratch;
    const std::filesystem::path folder = scratch.Root() / L"\u0412\u043e\u0440 2";
    std::filesystem::create_directory(folder);
    std::ofstream(folder / L"Darkinst.cfg") << "install_path";
    WorkingDirectoryScope here(folder);

    std::string directory;
    ASSERT_TRUE(QueryWorkingDirectory(&directory));
    EXPECT_EQ(directory.find('?'), std::string::npos) << directory;
    EXPECT_NE(GetFileAttributesA((directory + "\\Darkinst.cfg").c_str()), INVALID_FILE_ATTRIBUTES) << directory;
}

}  // namespace
