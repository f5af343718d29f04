// The rules every reader and writer of the game's key/value configuration
// files (install.cfg, Darkinst.cfg) follows, in both programs.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

struct ConfigKey {
    const char* text;
    size_t valuePosition;  // the key's length plus one separator
};

// In the order in which a step tests them: the first key a line holds decides.
extern const ConfigKey kInstallPathKey;
extern const ConfigKey kResnameBaseKey;
extern const ConfigKey kLoadPathKey;
extern const ConfigKey kScriptModulePathKey;
extern const ConfigKey kMoviePathKey;

struct ConfigLines {
    // The file was opened and read whole. A read that breaks off early counts
    // as a failure: rewriting what was read would drop the rest of the file.
    // The bytes read up to the break are kept all the same, for readers that
    // take what they can; a file too large for memory gives none.
    bool opened = false;
    bool held = false;  // bytes were read, as far as they go: there are lines
    // The bytes before the end marker, held once; the lines are views into
    // them, made one at a time (ForEachConfigLine), so a file of short lines
    // costs no more than a file of long ones.
    std::string text;
};

// Lines up to the end of the file or the first 0x1A byte; LF or CR LF end a
// line, and the read that meets the end still yields its (maybe empty) line.
ConfigLines ReadConfigLines(const char* path);

// Calls `visit` with each line, without its line end, and whether it is the
// last one; nothing when no bytes are held.
void ForEachConfigLine(const ConfigLines& read, const std::function<void(std::string_view line, bool last)>& visit);

// Whether `line` holds `key` anywhere, letter case significant.
bool HoldsKey(const std::string& line, const ConfigKey& key);

// Whether the line reaches its key's value position; a line that is the key
// alone has no value.
bool HasValue(const std::string& line, const ConfigKey& key);

// The bytes from the key's value position to the end; empty for a line
// shorter than that.
std::string KeyValue(const std::string& line, const ConfigKey& key);

// What a rewriting step's rule did with one line.
enum LineEnd {
    kWithLineEnd,
    // An edited movie_path line, which the game expects to end the file: it
    // ends the output unless another line follows.
    kWithheldLineEnd,
};

using ConfigRule = std::function<LineEnd(std::string& line)>;

// The output text of a rewrite: every line, as `rule` leaves it, followed by
// LF. A withheld line end is still written when a line follows, so no two
// lines are ever joined; the empty last line of a file that ended with a line
// end supplies it.
std::string BuildConfigText(const ConfigLines& read, const ConfigRule& rule);

// Writes `text` (lines ending in LF) to `path` with every LF as CR LF and one
// 0x1A end marker after it, through a side file "<path>.q8r-tmp" that takes
// the place of `path` in one step (file_replacement.h): false when `path`
// still holds its old file. An existing file that cannot be opened for
// writing is not replaced. A linked file whose real folder takes no side file
// is rewritten in place through the link, as a plain program would.
bool WriteConfigText(const char* path, const std::string& text);

// Writes the text BuildConfigText would give, as WriteConfigText writes it,
// without ever holding the whole text: a rewrite costs the file read and its
// longest line. `opened`, where given, tells a failure after the file was
// opened for writing (its new content could not be written or put in
// place; another program may hold it) from one before.
bool RewriteConfigFile(const char* path, const ConfigLines& read, const ConfigRule& rule, bool* opened = nullptr);
