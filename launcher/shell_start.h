// The one request the launcher makes of the desktop shell, through the
// platform's ShellStart (platform.h).
#pragma once

const int kShowNormal = 1;

long ShellOpen(const char* verb, const char* file, const char* parameters,
               const char* directory, int showCommand);
