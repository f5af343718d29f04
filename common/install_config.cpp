#include "install_config.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "file_replacement.h"
#include "platform.h"
#include "side_names.h"

const ConfigKey kInstallPathKey = {"install_path", 13};
const ConfigKey kResnameBaseKey = {"resname_base", 13};
const ConfigKey kLoadPathKey = {"load_path", 10};
const ConfigKey kScriptModulePathKey = {"script_module_path", 19};
const ConfigKey kMoviePathKey = {"movie_path", 11};

namespace {

const char kEndMarker = 0x1A;
const size_t kWriteStretch = 1 << 20;
const size_t kReadChunk = 4096;
const char* const kTemporarySuffix = kRewriteSuffix;

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

namespace {

using Emit = std::function<bool(std::string_view piece)>;

// The one walk over the lines that every rewrite takes; stops when `emit`
// refuses a piece.
bool EmitConfigText(const ConfigLines& read, const ConfigRule& rule, const Emit& emit) {
    bool owed = false;
    bool emitted = true;
    ForEachConfigLine(read, [&](std::string_view original, bool last) {
        if (!emitted) return;
        std::string line(original);
        const LineEnd end = rule(line);
        if (owed && !(last && original.empty())) emitted = emit("\n");
        emitted = emitted && emit(line);
        if (end == kWithLineEnd) emitted = emitted && emit("\n");
        owed = end == kWithheldLineEnd;
    });
    return emitted;
}

// Writes what `produce` hands to its emitter with every LF as CR LF, then the
// end marker, a stretch at a time; the stretch is had before the side file
// is made, and a lack of memory while producing abandons it before it goes on.
bool WriteConfigPieces(const char* path, const std::function<bool(const Emit& emit)>& produce, bool* opened) {
    // The new file takes the place of the old one without opening it, so a
    // file the user made read-only would be replaced all the same.
    if (Files().exists(path)) {
        FileHandle* existing = Files().open(path, kOpenExistingForWriting);
        if (!existing) return false;
        Files().close(existing);
    }
    std::string bytes;
    try {
        bytes.reserve(kWriteStretch + 2);
    } catch (const std::bad_alloc&) {
        return false;
    }
    Replacement replacement;
    if (!BeginReplacement(replacement, path, kTemporarySuffix) && !BeginRewriteInPlace(replacement, path)) {
        return false;
    }
    if (opened) *opened = true;
    const auto put = [&](std::string_view piece) {
        for (const char c : piece) {
            if (c == '\n') bytes += '\r';
            bytes += c;
            if (bytes.size() < kWriteStretch) continue;
            if (!WriteReplacement(replacement, bytes.data(), bytes.size())) return false;
            bytes.clear();
        }
        return true;
    };
    bool written = false;
    try {
        written = produce(put);
    } catch (const std::bad_alloc&) {
        // The caller counts a file too large for memory as one it cannot read.
        AbandonReplacement(replacement);
        throw;
    }
    bytes += kEndMarker;
    if (!written || !WriteReplacement(replacement, bytes.data(), bytes.size())) {
        AbandonReplacement(replacement);
        return false;
    }
    return CommitReplacement(replacement);
}

}  // namespace

std::string BuildConfigText(const ConfigLines& read, const ConfigRule& rule) {
    std::string text;
    EmitConfigText(read, rule, [&](std::string_view piece) {
        text += piece;
        return true;
    });
    return text;
}

bool RewriteConfigFile(const char* path, const ConfigLines& read, const ConfigRule& rule, bool* opened) {
    if (opened) *opened = false;
    return WriteConfigPieces(path, [&](const Emit& emit) { return EmitConfigText(read, rule, emit); }, opened);
}

bool WriteConfigText(const char* path, const std::string& text) {
    return WriteConfigPieces(path, [&](const Emit& emit) { return emit(text); }, nullptr);
}
