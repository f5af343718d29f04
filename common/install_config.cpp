#include "install_config.h"

#include <cstdint>

#include "file_replacement.h"
#include "platform.h"

const ConfigKey kInstallPathKey = {"install_path", 13};
const ConfigKey kResnameBaseKey = {"resname_base", 13};
const ConfigKey kLoadPathKey = {"load_path", 10};
const ConfigKey kScriptModulePathKey = {"script_module_path", 19};
const ConfigKey kMoviePathKey = {"movie_path", 11};

namespace {

const char kEndMarker = 0x1A;
const char* const kTemporarySuffix = ".q8r-tmp";

}  // namespace

ConfigLines ReadConfigLines(const char* path) {
    ConfigLines result;
    FileHandle* file = Files().open(path, kOpenForReading);
    if (!file) return result;

    std::string data;
    char chunk[4096];
    for (;;) {
        const size_t got = Files().read(file, chunk, sizeof chunk);
        data.append(chunk, got);
        if (got < sizeof chunk) break;
    }
    // A short read is the end of the file or an error; only the size tells.
    uint64_t size = 0;
    const bool whole = Files().size(file, &size) && data.size() >= size;
    Files().close(file);
    if (!whole) return result;
    result.opened = true;

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

bool HasValue(const std::string& line, const ConfigKey& key) {
    return line.size() >= key.valuePosition;
}

std::string KeyValue(const std::string& line, const ConfigKey& key) {
    if (!HasValue(line, key)) return std::string();
    return line.substr(key.valuePosition);
}

std::string BuildConfigText(const std::vector<std::string>& lines,
                            const std::function<LineEnd(std::string& line)>& rule) {
    std::string text;
    bool owed = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        const LineEnd end = rule(line);
        const bool emptyLast = i + 1 == lines.size() && lines[i].empty();
        if (owed && !emptyLast) text += '\n';
        text += line;
        if (end == kWithLineEnd) text += '\n';
        owed = end == kWithheldLineEnd;
    }
    return text;
}

bool WriteConfigText(const char* path, const std::string& text) {
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16 + 1);
    for (const char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    bytes += kEndMarker;

    // The new file takes the place of the old one without opening it, so a
    // file the user made read-only would be replaced all the same.
    if (Files().exists(path)) {
        FileHandle* existing = Files().open(path, kOpenExistingForWriting);
        if (!existing) return false;
        Files().close(existing);
    }

    Replacement replacement;
    if (!BeginReplacement(replacement, path, kTemporarySuffix)) return false;
    if (!WriteReplacement(replacement, bytes.data(), bytes.size())) {
        AbandonReplacement(replacement);
        return false;
    }
    return CommitReplacement(replacement);
}
