// What the launcher shows on every platform, and where its window goes:
// centred by halving the screen with a shift, and never pulled back onto a
// small screen.
#pragma once

inline constexpr char kLauncherTitle[] = "Q8R: Gloamspire  v1.1";  // two blanks

const int kLauncherWindowWidth = 394;
const int kLauncherWindowHeight = 380;

struct WindowOrigin {
    int left;
    int top;
};

inline WindowOrigin CentredWindowOrigin(int screenWidth, int screenHeight) {
    return {(screenWidth >> 1) - kLauncherWindowWidth / 2, (screenHeight >> 1) - kLauncherWindowHeight / 2};
}
