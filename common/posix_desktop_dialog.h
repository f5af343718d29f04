// Windows on a Linux desktop for programs started without a terminal (from a
// file manager, a .desktop file, Steam): drawn by the dialog program the
// desktop has, zenity (GNOME, SteamOS, Steam itself) or kdialog (KDE
// Plasma), found at run time, so the programs link nothing but libc. Where
// neither is there, a terminal emulator runs the program on the terminal.
#pragma once

#include <string>
#include <vector>

// The system's own search path, for a process started without PATH.
std::string DefaultSearchPath();
// `program` in the absolute folders of `searchPath`; empty when not found.
// A relative element would name the current folder, the game folder, where
// anybody may have put a program of that name.
std::string FindOnSearchPath(const std::string& searchPath, const char* program);

enum DialogKind { kNoDialogs, kZenityDialogs, kKdialogDialogs };

struct DesktopDialogs {
    DialogKind kind = kNoDialogs;
    std::string program;  // absolute
};

// No terminal on standard input, output or error, and a display to show
// windows on.
bool StartedWithoutTerminal();
DesktopDialogs FindDesktopDialogs();

// Runs the dialog program with `arguments`, waits for it and gives what it
// printed; false when it could not run or ended other than with 0 (a
// dialog closed or cancelled).
bool RunDialog(const DesktopDialogs& dialogs, const std::vector<std::string>& arguments, std::string* printed);

// Starts it with a pipe to its standard input; the pipe's write end, or -1.
int StartDialogReading(const DesktopDialogs& dialogs, const std::vector<std::string>& arguments, int* process);
void EndDialogReading(int input, int process);

// A modal box: the error box for `error`, the plain one otherwise.
void ShowDesktopBox(const DesktopDialogs& dialogs, const char* title, const char* text, bool error);

// Runs this program again in a terminal emulator, with `marker` set in its
// environment so that it does not do so once more; returns only when there
// is none.
void RerunInTerminalEmulator(const char* marker);
