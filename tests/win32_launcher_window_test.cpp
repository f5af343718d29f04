// The launcher's window in this process: its class, the window and buttons
// it makes, and what its window procedure does on each road out. The test
// program carries the launcher's resources, so the picture really loads.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource_ids.h"
#include "support/recording_platform.h"
#include "win32_launcher_window.h"
#include "window_layout.h"

namespace {

// The exit value of a quit request waiting for this thread, or -1 for none.
int TakeQuitRequest() {
    MSG message;
    int exitValue = -1;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) exitValue = static_cast<int>(message.wParam);
    }
    return exitValue;
}

void EnsureLauncherClass() {
    static const bool registered = RegisterLauncherClass(GetModuleHandleA(nullptr));
    ASSERT_TRUE(registered);
}

// Under Wine the test prefix's null display driver makes the windows; the
// launcher's Wine and Xvfb test runs these again on a real display.
class LauncherWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureLauncherClass();
        window_ = CreateLauncherWindow(GetModuleHandleA(nullptr), 1024, 768);
        ASSERT_NE(window_, nullptr);
        TakeQuitRequest();
    }
    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        TakeQuitRequest();
    }

    std::vector<std::string> OpenedDirectories() {
        std::vector<std::string> directories;
        for (const RecordedShellRequest& request : platform_.record().shellRequests)
            directories.push_back(request.directory);
        return directories;
    }

    RecordingPlatform platform_;
    HWND window_ = nullptr;
};

TEST(LauncherWindowClass, CarriesIconsArrowAndWhiteBrush) {
    EnsureLauncherClass();
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), kLauncherClassName, &windowClass));
    EXPECT_EQ(windowClass.style, 0u);
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, 0);
    EXPECT_NE(windowClass.hIcon, nullptr);
    EXPECT_NE(windowClass.hIconSm, nullptr);
    EXPECT_EQ(windowClass.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(windowClass.hbrBackground, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(windowClass.lpszMenuName, nullptr);

    for (const auto& icon : {std::pair{IDI_LAUNCHER, 64}, std::pair{IDI_LAUNCHER_SMALL, 16}}) {
        HICON handle = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(icon.first),
                                                     IMAGE_ICON, 0, 0, 0));
        ICONINFO info = {};
        ASSERT_TRUE(handle && GetIconInfo(handle, &info)) << icon.first;
        BITMAP colour = {};
        GetObjectA(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, icon.second) << icon.first;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(handle);
    }
}

TEST_F(LauncherWindowTest, PictureIsTheBackgroundBitmap) {
    HBITMAP picture = LauncherBackground();
    ASSERT_NE(picture, nullptr);
    BITMAP info = {};
    ASSERT_TRUE(GetObjectA(picture, sizeof info, &info));
    EXPECT_EQ(info.bmWidth, 394);
    EXPECT_EQ(info.bmHeight, 380);
}

TEST_F(LauncherWindowTest, EachButtonLaunchesOnceThenReleasesThePictureAndQuits) {
    DestroyWindow(window_);
    const struct {
        WPARAM command;
        const char* directory;
    } presses[] = {
        {MAKEWPARAM(IDC_PLAY_Q8R, BN_CLICKED), ".//q8r"},
        {MAKEWPARAM(IDC_PLAY_THIEF2, BN_CLICKED), ".."},
        {MAKEWPARAM(IDC_PLAY_THIEF2, 0x1234), ".."},  // the notification code is not looked at
    };
    for (const auto& press : presses) {
        platform_.record().shellRequests.clear();
        window_ = CreateLauncherWindow(GetModuleHandleA(nullptr), 1024, 768);
        TakeQuitRequest();
        HBITMAP picture = LauncherBackground();
        ASSERT_NE(picture, nullptr);

        EXPECT_EQ(SendMessageA(window_, WM_COMMAND, press.command, 0), 0);
        EXPECT_EQ(OpenedDirectories(), std::vector<std::string>{press.directory});
        EXPECT_EQ(LauncherBackground(), nullptr);
        EXPECT_EQ(GetObjectType(picture), 0u) << "the picture is deleted";
        EXPECT_TRUE(IsWindow(window_)) << "a launch leaves the window to the end of the process";
        EXPECT_EQ(TakeQuitRequest(), 0);

        // A close that still arrives afterwards finds nothing left to delete.
        HBITMAP unrelated = CreateBitmap(4, 4, 1, 32, nullptr);
        SendMessageA(window_, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(window_));
        EXPECT_NE(GetObjectType(unrelated), 0u);
        DeleteObject(unrelated);
        EXPECT_EQ(TakeQuitRequest(), 0);
        EXPECT_EQ(OpenedDirectories().size(), 1u);
    }
}

TEST_F(LauncherWindowTest, OtherCommandsLaunchNothingAndKeepItRunning) {
    for (int id : {0, 1, 2, 300, 303, IDB_BACKGROUND}) {
        SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        EXPECT_EQ(TakeQuitRequest(), -1) << id;
    }
    EXPECT_TRUE(OpenedDirectories().empty());
    EXPECT_NE(LauncherBackground(), nullptr);
}

TEST_F(LauncherWindowTest, ClosingReleasesThePictureAndQuitsWithZero) {
    HBITMAP picture = LauncherBackground();
    SendMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(LauncherBackground(), nullptr);
    EXPECT_EQ(GetObjectType(picture), 0u);
    EXPECT_EQ(TakeQuitRequest(), 0);
    EXPECT_TRUE(OpenedDirectories().empty());
}

TEST_F(LauncherWindowTest, LoopEndsWithTheQuitRequestsValue) {
    PostQuitMessage(7);
    EXPECT_EQ(RunLauncherMessageLoop(), 7);
}

}  // namespace
