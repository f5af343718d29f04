// The one request the launcher makes of the desktop shell: open a program
// in a working directory and return without waiting for it.
#pragma once

struct ShellStart {
    // The shell's own argument order. Parameters may be null. The result is
    // the shell's: above 32 when the request was taken, and nobody looks.
    long (*open)(const char* verb, const char* file, const char* parameters,
                 const char* directory, int showCommand);
};

const int kShowNormal = 1;

// The table in use; the platform's own unless a test installed another.
const ShellStart& CurrentShellStart();
void UseShellStart(const ShellStart* shell);
// This build's real layer: ShellExecuteA on Windows, our own on POSIX.
const ShellStart& PlatformShellStart();

long ShellOpen(const char* verb, const char* file, const char* parameters,
               const char* directory, int showCommand);
