// Stands in for thief2.exe in the launcher's tests: writes where it was
// started and with what command line beside itself, then ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char**) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    char* slash = std::strrchr(self, '\\');
    if (slash) slash[1] = '\0';
    char record[MAX_PATH + 32];
    std::snprintf(record, sizeof record, "%sstarted.txt", self);

    char directory[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, directory);
    FILE* out = std::fopen(record, "ab");
    if (!out) return 1;
    std::fprintf(out, "directory=%s\r\n", directory);
    std::fprintf(out, "arguments=%d\r\n", argc - 1);
    std::fprintf(out, "commandline=%s\r\n", GetCommandLineA());
    std::fclose(out);
    return 0;
}
