// What the patcher shows and how it ends: the status line, the modal message
// box owned by the patcher window, and the end of the program, through the
// platform's PatcherUi (platform.h): the Windows window, the POSIX console or
// the tests' recorder.
#pragma once

// The patcher window's title and its two intro lines, shown on every road.
extern const char* const kPatcherWindowTitle;
extern const char* const kPatcherIntroText;

// Message box styles the patcher uses.
constexpr unsigned kMessageBoxOk = 0;       // one OK button, no icon
constexpr unsigned kMessageBoxError = 16;   // one OK button and the error icon

void SetStatus(const char* text);
// Between the items of a long step, so that the window keeps answering.
void StayResponsive();
void ShowMessageBox(const char* text, const char* caption, unsigned style);
[[noreturn]] void EndProgram(int exitCode);
