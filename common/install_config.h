// The rules every reader and writer of the game's key/value configuration
// files (install.cfg, Darkinst.cfg) follows, in both programs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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
    bool opened = false;
    std::vector<std::string> lines;  // without their line ends
};

// Lines up to the end of the file or the first 0x1A byte; LF or CR LF end a
// line, and the read that meets the end still yields its (maybe empty) line.
ConfigLines ReadConfigLines(const char* path);

// Whether `line` holds `key` anywhere, letter case significant.
bool HoldsKey(const std::string& line, const ConfigKey& key);

// The bytes from the key's value position to the end; empty for a line
// shorter than that.
std::string KeyValue(const std::string& line, const ConfigKey& key);
