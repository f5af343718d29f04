// The baseline of bench/move_bench.sh: every entry of FOLDER renamed into
// TARGET with one rename(2) each, after one listing, and nothing else.
#include <dirent.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: rename_loop FOLDER TARGET\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string target = argv[2];
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 1;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    int failed = 0;
    for (const std::string& name : names) {
        if (std::rename((folder + "/" + name).c_str(), (target + "/" + name).c_str()) != 0) ++failed;
    }
    return failed == 0 ? 0 : 1;
}
