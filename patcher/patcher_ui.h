// What the patcher shows and how it ends: the status line, the modal message
// box owned by the patcher window, and the end of the program. The Windows
// window, the POSIX console and the tests' recorder each supply one table.
#pragma once

struct PatcherUi {
    // Replaces the status line's text and has it drawn before returning.
    void (*showStatus)(const char* text);
    // Returns once the user has dismissed the box.
    void (*showMessageBox)(const char* text, const char* caption, unsigned style);
    // Ends the process with `exitCode`; never returns to its caller.
    void (*endProgram)(int exitCode);
};

// Message box styles the patcher uses.
constexpr unsigned kMessageBoxOk = 0;       // one OK button, no icon
constexpr unsigned kMessageBoxError = 16;   // one OK button and the error icon

void UsePatcherUi(const PatcherUi* ui);

void SetStatus(const char* text);
void ShowMessageBox(const char* text, const char* caption, unsigned style);
[[noreturn]] void EndProgram(int exitCode);
