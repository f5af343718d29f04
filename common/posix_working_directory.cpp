#include <unistd.h>

#include <cerrno>
#include <vector>

#include "working_directory.h"

bool QueryWorkingDirectory(std::string* directory) {
    std::vector<char> buffer(260);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return false;
        buffer.resize(buffer.size() * 2);
    }
    *directory = buffer.data();
    return true;
}
