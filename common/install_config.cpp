#include "install_config.h"

#include "file_access.h"

const ConfigKey kInstallPathKey = {"install_path", 13};
const ConfigKey kResnameBaseKey = {"resname_base", 13};
const ConfigKey kLoadPathKey = {"load_path", 10};
const ConfigKey kScriptModulePathKey = {"script_module_path", 19};
const ConfigKey kMoviePathKey = {"movie_path", 11};

namespace {
const char kEndMarker = 0x1A;
}

ConfigLines ReadConfigLines(const char* path) {
    ConfigLines result;
    FileHandle* file = Files().open(path, kOpenForReading);
    if (!file) return result;
    result.opened = true;

    // A read error ends the data just as the end of the file does.
    std::string data;
    char chunk[4096];
    for (;;) {
        const size_t got = Files().read(file, chunk, sizeof chunk);
        data.append(chunk, got);
        if (got < sizeof chunk) break;
    }
    Files().close(file);

    const size_t marker = data.find(kEndMarker);
    if (marker != std::string::npos) data.resize(marker);

    size_t start = 0;
    for (;;) {
        const size_t end = data.find('\n', start);
        if (end == std::string::npos) {
            result.lines.push_back(data.substr(start));
            break;
        }
        size_t length = end - start;
        if (length > 0 && data[end - 1] == '\r') --length;
        result.lines.push_back(data.substr(start, length));
        start = end + 1;
    }
    return result;
}

bool HoldsKey(const std::string& line, const ConfigKey& key) {
    return line.find(key.text) != std::string::npos;
}

std::string KeyValue(const std::string& line, const ConfigKey& key) {
    if (line.size() < key.valuePosition) return std::string();
    return line.substr(key.valuePosition);
}
