#include "posix_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

namespace {

const std::string kExactPrefix = "\\\\?\\";

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EntryExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

// The entry of `folder` whose name equals `name` but for letter case; the
// name itself when it is listed, else the smallest such name, so the choice
// is repeatable.
bool FindNameIgnoringCase(const std::string& folder, const std::string& name, std::string* found) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    bool any = false;
    bool exact = false;
    while (struct dirent* entry = readdir(dir)) {
        if (exact || !SameNameIgnoringCase(entry->d_name, name.c_str())) continue;
        exact = name == entry->d_name;
        if (!any || exact || std::strcmp(entry->d_name, found->c_str()) < 0) *found = entry->d_name;
        any = true;
    }
    closedir(dir);
    return any;
}

std::string FoldedName(std::string name) {
    for (char& c : name) c = FoldCase(c);
    return name;
}

bool SameNameIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (FoldCase(*a) != FoldCase(*b)) return false;
    }
    return *a == *b;
}

std::string ExactName(const std::string& resolved) {
    return kExactPrefix + resolved;
}

std::string ResolvePath(const char* path) {
    if (std::strncmp(path, kExactPrefix.c_str(), kExactPrefix.size()) == 0) return path + kExactPrefix.size();
    std::string text(path);
    for (char& c : text) {
        if (c == '\\') c = '/';
    }

    std::vector<std::string> elements;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) elements.push_back(text.substr(start, end - start));
        start = end + 1;
    }

    const bool absolute = !text.empty() && text[0] == '/';
    std::string result = absolute ? "/" : "";
    bool resolving = true;
    for (const std::string& element : elements) {
        std::string folder = result.empty() ? "." : result;
        std::string name = element;
        if (resolving && element != "." && element != "..") {
            std::string exact = (result.empty() || result == "/") ? result + element : result + "/" + element;
            if (!EntryExists(exact)) {
                std::string found;
                if (FindNameIgnoringCase(folder, element, &found)) {
                    name = found;
                } else {
                    resolving = false;
                }
            }
        }
        if (!result.empty() && result != "/") result += '/';
        result += name;
    }
    return result;
}
