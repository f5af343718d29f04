// The branches of the Windows file operations that only Windows takes, run
// under Wine through a fake of the calls whose answers only Windows gives:
// a shell that stops half-way, a file id of 0, reparse tags, a listed
// dangling link; and no probe file made on Windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "file_operations.h"
#include "game_root.h"
#include "left_behind.h"
#include "support/scratch_folder.h"
#include "win32_file_names.h"
#include "win32_item_access.h"
#include "win32_wine.h"

namespace {

int probes = 0;
int shellCalls = 0;
std::wstring taggedPlace;  // how the whole name of the entry the fake listing tags ends
DWORD tag = 0;
bool taggedIsMissing = false;  // listed though nothing is there
std::wstring standIn;          // a real file listed in its place
std::wstring listedFolder;

// The probe is the one create that deletes itself on close.
HANDLE WINAPI CountingCreate(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE model) {
    if (flags & FILE_FLAG_DELETE_ON_CLOSE) ++probes;
    return CreateFileW(name, access, share, security, disposition, flags, model);
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void Tag(WIN32_FIND_DATAW* found) {
    if (taggedPlace.empty() || !EndsWith(listedFolder + L"\\" + found->cFileName, taggedPlace)) return;
    found->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    found->dwReserved0 = tag;
}

// A listing of the tagged entry's folder shows it last where nothing is
// there.
bool injectPending = false;

HANDLE WINAPI TaggingFindFirst(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID data, FINDEX_SEARCH_OPS search,
                               LPVOID filter, DWORD flags) {
    auto* found = static_cast<WIN32_FIND_DATAW*>(data);
    const std::wstring asked = pattern;
    listedFolder = asked.substr(0, asked.rfind(L'\\'));
    const bool missing = taggedIsMissing && !taggedPlace.empty() &&
                         GetFileAttributesW((listedFolder + taggedPlace.substr(taggedPlace.rfind(L'\\'))).c_str()) ==
                             INVALID_FILE_ATTRIBUTES &&
                         EndsWith(listedFolder + taggedPlace.substr(taggedPlace.rfind(L'\\')), taggedPlace);
    const bool standsIn = missing && EndsWith(asked, taggedPlace);
    injectPending = missing && EndsWith(asked, L"\\*");
    const HANDLE handle = FindFirstFileExW(standsIn ? standIn.c_str() : pattern, level, data, search, filter, flags);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    if (standsIn) lstrcpyW(found->cFileName, asked.substr(asked.rfind(L'\\') + 1).c_str());
    Tag(found);
    return handle;
}

BOOL WINAPI TaggingFindNext(HANDLE search, LPWIN32_FIND_DATAW found) {
    if (FindNextFileW(search, found)) {
        Tag(found);
        return TRUE;
    }
    if (!injectPending) return FALSE;
    injectPending = false;
    const HANDLE standing = FindFirstFileW(standIn.c_str(), found);
    FindClose(standing);
    lstrcpyW(found->cFileName, taggedPlace.substr(taggedPlace.rfind(L'\\') + 1).c_str());
    Tag(found);
    return TRUE;
}

// A share that knows no file ids.
BOOL WINAPI ZeroFileIds(HANDLE, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    if (kind != FileIdInfo) return FALSE;
    ZeroMemory(info, size);
    return TRUE;
}

// The shell answers 0 for what it did not do.
int WINAPI IdleShell(LPSHFILEOPSTRUCTA) {
    ++shellCalls;
    return 0;
}

// The shell copies a folder and answers 0. Told it stopped
// (fAnyOperationsAborted), it left the first file at its full size but
// unwritten, as a copy cut off after it set the size; otherwise it left out
// what lies deeper than the top level.
bool flagAbort = true;
void CopyTree(const std::string& from, const std::string& made, bool top) {
    CreateDirectoryA(made.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((from + "\\*").c_str(), &found);
    bool first = top;
    do {
        const std::string name = found.cFileName, source = from + "\\" + name, target = made + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (flagAbort && name != "." && name != "..") CopyTree(source, target, false);
            continue;
        }
        CopyFileA(source.c_str(), target.c_str(), FALSE);
        if (first && flagAbort) {
            const HANDLE file = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
            SetFilePointer(file, static_cast<LONG>(found.nFileSizeLow), nullptr, FILE_BEGIN);
            SetEndOfFile(file);
            CloseHandle(file);
        }
        first = false;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

int WINAPI HalfCopyingShell(LPSHFILEOPSTRUCTA request) {
    ++shellCalls;
    const std::string from = request->pFrom, to = request->pTo;
    CopyTree(from, to + from.substr(from.rfind('\\') + 1), true);
    request->fAnyOperationsAborted = flagAbort;
    return 0;
}

class WindowsBranches : public ::testing::Test {
protected:
    ScratchFolder folder;
    Win32ShellCalls savedShell = gShellCalls;
    Win32FileCalls savedFiles = gFileCalls;

    void SetUp() override {
        probes = shellCalls = 0;
        taggedPlace.clear();
        taggedIsMissing = false;
        gFileCalls.createFile = CountingCreate;
        PretendRunningUnder(WineAnswer::kWindows);
    }
    void TearDown() override {
        gShellCalls = savedShell;
        gFileCalls = savedFiles;
        PretendRunningUnder(WineAnswer::kAskTheSystem);
        ForgetLeftBehind();
    }
    std::string P(const std::string& relative) { return folder.PathText(relative); }
    std::string Into(const std::string& relative) { return P(relative) + "\\"; }
};

TEST_F(WindowsBranches, WhatTheShellLeftOfACopyIsFinishedToFullDepth) {
    gShellCalls.shellOperation = HalfCopyingShell;
    for (const bool aborted : {true, false}) {
        flagAbort = aborted;
        ScratchFolder game;
        game.Write("saves/a.sav", "first save, cut in half by the shell");
        game.Write("saves/b.sav", "second");
        game.Write("saves/current/c.sav", "deep");
        game.MakeFolder("copy");
        shellCalls = 0;

        EXPECT_EQ(CopyFiles(game.PathText("saves").c_str(), (game.PathText("copy") + "\\").c_str()), 0);
        EXPECT_EQ(shellCalls, 1);
        EXPECT_EQ(game.Read("copy/saves/a.sav"), "first save, cut in half by the shell") << aborted;
        EXPECT_EQ(game.Read("copy/saves/current/c.sav"), "deep") << aborted;
    }
}

// Under Wine the probe stays; on Windows a free name is never probed.
TEST_F(WindowsBranches, OnlyWineProbesAFreeName) {
    for (const WineAnswer platform : {WineAnswer::kWindows, WineAnswer::kWine}) {
        PretendRunningUnder(platform);
        probes = 0;
        ScratchFolder game;
        game.Write("user.cfg", "keys");
        game.Write("saves/game.sav", "save");
        game.MakeFolder("q8r");
        EXPECT_EQ(CopyFiles(game.PathText("user.cfg").c_str(), (game.PathText("q8r") + "\\").c_str()), 0);
        EXPECT_EQ(CopyFiles(game.PathText("saves").c_str(), (game.PathText("q8r") + "\\").c_str()), 0);
        EXPECT_EQ(game.Read("q8r/user.cfg"), "keys");
        EXPECT_EQ(probes > 0, platform == WineAnswer::kWine);
    }
}

// An id of 0 says nothing: two folders so identified are merged, not taken
// for one.
TEST_F(WindowsBranches, AFileIdOfZeroIsNeverTheSameItem) {
    gFileCalls.fileInformation = ZeroFileIds;
    gShellCalls.shellOperation = IdleShell;
    folder.Write("saves/a.sav", "a");
    folder.Write("books/english/sub/b.str", "b");
    folder.Write("books/sub/old.str", "old");
    folder.MakeFolder("copy/saves");

    EXPECT_EQ(CopyFiles(P("saves").c_str(), Into("copy").c_str()), 0);
    EXPECT_EQ(MoveFiles(P("books/english/*").c_str(), Into("books").c_str()), 0);
    EXPECT_EQ(folder.Read("copy/saves/a.sav"), "a");
    EXPECT_EQ(folder.Read("books/sub/b.str"), "b");
    EXPECT_EQ(LeftBehindCount(), 0u);
}

// A cloud placeholder is a file of its own; a name-surrogate tag is a link,
// which keeps the request from the shell.
TEST_F(WindowsBranches, AReparseTagMakesALinkOnlyWhenItStandsForAName) {
    gFileCalls.findFirst = TaggingFindFirst;
    gFileCalls.findNext = TaggingFindNext;
    gShellCalls.shellOperation = IdleShell;
    const struct {
        DWORD tag;
        int shellCalls;
    } cases[] = {{IO_REPARSE_TAG_CLOUD_6, 1}, {IO_REPARSE_TAG_SYMLINK, 0}, {IO_REPARSE_TAG_MOUNT_POINT, 0}};
    for (const auto& c : cases) {
        ScratchFolder game;
        game.Write("saves/placeholder.sav", "in the cloud");
        game.MakeFolder("copy");
        taggedPlace = L"\\placeholder.sav";
        tag = c.tag;
        shellCalls = 0;
        EXPECT_EQ(CopyFiles(game.PathText("saves/placeholder.sav").c_str(), (game.PathText("copy") + "\\").c_str()),
                  0);
        EXPECT_EQ(shellCalls, c.shellCalls) << std::hex << c.tag;
        EXPECT_EQ(game.Read("copy/placeholder.sav"), "in the cloud");
    }
}

// Windows lists a dangling link: the copy replaces the link through its
// side name, with no probe and no shell.
TEST_F(WindowsBranches, ACopyOntoAListedDanglingLinkReplacesTheLink) {
    gFileCalls.findFirst = TaggingFindFirst;
    gFileCalls.findNext = TaggingFindNext;
    gShellCalls.shellOperation = IdleShell;
    folder.Write("user.cfg", "keys");
    folder.Write("elsewhere/stand-in", "");
    folder.MakeFolder("q8r");
    taggedPlace = L"\\q8r\\user.cfg";
    tag = IO_REPARSE_TAG_SYMLINK;
    taggedIsMissing = true;
    const std::string name = P("elsewhere/stand-in");
    standIn = L"\\\\?\\" + std::wstring(name.begin(), name.end());

    EXPECT_EQ(CopyFiles(P("user.cfg").c_str(), Into("q8r").c_str()), 0);
    EXPECT_EQ(folder.Read("q8r/user.cfg"), "keys");
    EXPECT_FALSE(folder.Exists("q8r/user.cfg.q8r-copy"));
    EXPECT_EQ(probes, 0);
    EXPECT_EQ(shellCalls, 0);
}

// What stays is named with the system's reason, whether the move or the
// delete met the held file.
TEST_F(WindowsBranches, AnItemLeftBehindCarriesTheSystemsReason) {
    gShellCalls.shellOperation = IdleShell;
    for (const bool move : {true, false}) {
        ForgetLeftBehind();
        folder.Write("books/english/held.str", "held");
        const HANDLE held =
            CreateFileA(P("books/english/held.str").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_NE(move ? MoveFiles(P("books/english/*").c_str(), Into("books").c_str())
                       : DeleteFiles(P("books/english/*").c_str()),
                  0);
        CloseHandle(held);
        ASSERT_EQ(LeftBehindCount(), 1u) << move;
        EXPECT_NE(LeftBehindMessage().find("(32)"), std::string::npos) << LeftBehindMessage();
    }
}

// A game folder whose name is beyond ASCII: what stays is still named below
// it, not by a whole path half in another encoding.
TEST_F(WindowsBranches, ALeftItemIsNamedBelowAGameFolderBeyondAscii) {
    gShellCalls.shellOperation = IdleShell;
    const std::wstring root = Wide(P("")) + L"\\Jeu \u00e9t\u00e9";
    std::string ansiRoot;
    ASSERT_TRUE(SpellInAnsi(root, &ansiRoot));
    for (const wchar_t* made : {L"", L"\\books", L"\\books\\english"}) {
        ASSERT_TRUE(CreateDirectoryW((root + made).c_str(), nullptr));
    }
    const HANDLE hold = CreateFileW((root + L"\\books\\english\\held.str").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    char* const saved = GameRoot;
    std::vector<char> gameRoot(ansiRoot.begin(), ansiRoot.end());
    gameRoot.push_back('\0');
    GameRoot = gameRoot.data();

    EXPECT_NE(DeleteFiles((ansiRoot + "\\books\\english\\*").c_str()), 0);
    GameRoot = saved;
    CloseHandle(hold);
    ASSERT_EQ(LeftBehindCount(), 1u);
    EXPECT_NE(LeftBehindMessage().find("\nbooks\\english\\held.str ("), std::string::npos) << LeftBehindMessage();
    SetLeftBehindRoot("");
}

}  // namespace

namespace {

// Each request lists a folder once; what other code changed between two
// requests is seen by the second.
TEST_F(WindowsBranches, ARequestSeesWhatChangedSinceTheLastOne) {
    gShellCalls.shellOperation = IdleShell;
    folder.Write("books/english/a.str", "a");
    EXPECT_EQ(MoveFiles(P("books/english/*").c_str(), Into("books").c_str()), 0);
    folder.Write("books/english/b.str", "b");
    std::remove(P("books/a.str").c_str());
    folder.Write("books/english/a.str", "a again");
    EXPECT_EQ(MoveFiles(P("books/english/*").c_str(), Into("books").c_str()), 0);
    EXPECT_EQ(folder.Read("books/a.str"), "a again");
    EXPECT_EQ(folder.Read("books/b.str"), "b");
    EXPECT_EQ(LeftBehindCount(), 0u);
}

}  // namespace
