#include "install_config.h"

#include <algorithm>
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
const size_t kReadChunk = 4096;
const size_t kEditRoom = 64 << 10;
const char* const kTemporarySuffix = ".q8r-tmp";

}  // namespace

// The file is read into one buffer of its size, a chunk at a time, and held
// once; one that does not fit in memory counts as one that cannot be read.
ConfigLines ReadConfigLines(const char* path) {
    ConfigLines result;
    FileHandle* file = Files().open(path, kOpenForReading);
    if (!file) return result;
    uint64_t size = 0;
    if (!Files().size(file, &size) || size >= SIZE_MAX) {
        Files().close(file);
        return result;
    }
    size_t total = 0;
    bool marked = false;  // met the end marker: nothing after it is read
    try {
        result.text.resize(static_cast<size_t>(size));
        for (;;) {
            const size_t asked = std::min(kReadChunk, result.text.size() - total);
            const size_t got = asked ? Files().read(file, result.text.data() + total, asked) : 0;
            if (const void* marker = std::memchr(result.text.data() + total, kEndMarker, got)) {
                total = static_cast<const char*>(marker) - result.text.data();
                marked = true;
                break;
            }
            total += got;
            if (got < asked || asked == 0) break;
        }
    } catch (const std::bad_alloc&) {
        Files().close(file);
        return ConfigLines();
    }
    // A short read is the end of the file or an error; the size tells. The
    // lines so far are kept for a reader that can use them.
    result.text.resize(total);
    result.held = true;
    result.opened = marked || total >= size;
    Files().close(file);
    return result;
}

void ForEachConfigLine(const ConfigLines& read, const std::function<void(std::string_view line, bool last)>& visit) {
    if (!read.held) return;
    const std::string_view text = read.text;
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            visit(text.substr(start), true);
            return;
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        visit(line, false);
        start = end + 1;
    }
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

std::string BuildConfigText(const ConfigLines& read, const std::function<LineEnd(std::string& line)>& rule) {
    std::string text;
    // Room for the edits too, so the text is not doubled by its own growth.
    text.reserve(read.text.size() + kEditRoom);
    bool owed = false;
    ForEachConfigLine(read, [&](std::string_view original, bool last) {
        std::string line(original);
        const LineEnd end = rule(line);
        if (owed && !(last && original.empty())) text += '\n';
        text += line;
        if (end == kWithLineEnd) text += '\n';
        owed = end == kWithheldLineEnd;
    });
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
