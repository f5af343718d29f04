#include "install_config.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "file_replacement.h"
#include "platform.h"

const ConfigKey kInstallPathKey = {"install_path", 13};
const ConfigKey kResnameBaseKey = {"resname_base", 13};
const ConfigKey kLoadPathKey = {"load_path", 10};
const ConfigKey kScriptModulePathKey = {"script_module_path", 19};
const ConfigKey kMoviePathKey = {"movie_path", 11};

namespace {

const char kEndMarker = 0x1A;
const size_t kWriteStretch = 1 << 20;
const char* const kTemporarySuffix = ".q8r-tmp";

}  // namespace

// The lines are split as the chunks come in, so the file is held once, as
// its lines; one that does not fit in memory counts as one that cannot be read.
ConfigLines ReadConfigLines(const char* path) {
    ConfigLines result;
    FileHandle* file = Files().open(path, kOpenForReading);
    if (!file) return result;

    uint64_t total = 0;
    bool marked = false;  // met the end marker: nothing after it is read
    try {
        std::string line;
        char chunk[4096];
        for (;;) {
            const size_t got = Files().read(file, chunk, sizeof chunk);
            total += got;
            const char* end = chunk + got;
            if (const void* marker = std::memchr(chunk, kEndMarker, got)) {
                end = static_cast<const char*>(marker);
                marked = true;
            }
            for (const char* start = chunk; start < end;) {
                const char* lineEnd = static_cast<const char*>(std::memchr(start, '\n', end - start));
                if (!lineEnd) {
                    line.append(start, end);
                    break;
                }
                line.append(start, lineEnd);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                result.lines.push_back(std::move(line));
                line.clear();
                start = lineEnd + 1;
            }
            if (marked || got < sizeof chunk) break;
        }
        // The read that meets the end still yields its line; so does one that
        // broke off, whose lines so far are kept for a reader that can use them.
        result.lines.push_back(std::move(line));
    } catch (const std::bad_alloc&) {
        Files().close(file);
        return ConfigLines();
    }
    // A short read is the end of the file or an error; only the size tells.
    uint64_t size = 0;
    result.opened = marked || (Files().size(file, &size) && total >= size);
    Files().close(file);
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
    // The new file takes the place of the old one without opening it, so a
    // file the user made read-only would be replaced all the same.
    if (Files().exists(path)) {
        FileHandle* existing = Files().open(path, kOpenExistingForWriting);
        if (!existing) return false;
        Files().close(existing);
    }

    // CR LF and the end marker are written a stretch at a time, so a huge
    // text is never held twice; the stretch is had before the side file is
    // made, so a lack of memory leaves nothing behind.
    std::string bytes;
    try {
        bytes.reserve(2 * kWriteStretch + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    Replacement replacement;
    if (!BeginReplacement(replacement, path, kTemporarySuffix) && !BeginRewriteInPlace(replacement, path)) {
        return false;
    }
    bool written = true;
    for (size_t start = 0; written && start <= text.size(); start += kWriteStretch) {
        bytes.clear();
        for (size_t k = start; k < text.size() && k < start + kWriteStretch; ++k) {
            if (text[k] == '\n') bytes += '\r';
            bytes += text[k];
        }
        if (start + kWriteStretch > text.size()) bytes += kEndMarker;
        written = WriteReplacement(replacement, bytes.data(), bytes.size());
    }
    if (!written) {
        AbandonReplacement(replacement);
        return false;
    }
    return CommitReplacement(replacement);
}
