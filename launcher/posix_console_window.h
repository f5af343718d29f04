// The launcher's window on a terminal: the title, the two buttons as keys,
// and a way out.
#pragma once

#include <cstdio>
#include <string>


// What a key or an input line asks for.
enum LauncherChoice { kChoiceNone, kChoicePlayQ8r, kChoicePlayThief2, kChoiceQuit };

LauncherChoice ChoiceForKey(char key);
// A whole line, blanks around it ignored: "1", "p", "play q8r", "q", ...
LauncherChoice ChoiceForLine(const std::string& line);
// The control whose command a choice stands for; 0 for none.
int ControlForChoice(LauncherChoice choice);

void ShowLauncherMenu(FILE* out);

// One key at a time on a terminal, whole lines otherwise; the end of the
// input quits.
LauncherChoice AskLauncherChoice(FILE* in, FILE* out);
