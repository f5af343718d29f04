#include "darkinst_steps.h"

#include <new>
#include <string>

#include "platform.h"
#include "file_operations.h"
#include "game_root.h"
#include "install_config.h"
#include "patcher_ui.h"
#include "path_format.h"

namespace {

const char* const kErrorCaption = "Error";

const char* const kCustomDarkinstFailed =
    "Failed to create custom Darkinst file.\n"
    "\n"
    "Q8R needs to rename and alter the file \"\\q8r\\install.cfg\"\n"
    "in order to play. Refer to the supplied FAQ for help.";

const char* const kCustomDarkinstNotWritable =
    "The file \"\\q8r\\Darkinst.cfg\"\n"
    " could not be opened for writing.\n"
    "\n"
    "Q8R needs to alter this file in order to play.";

const char* const kDefaultDarkinstNotWritable =
    "The file \"Darkinst.cfg\"\n"
    " could not be opened for writing.\n"
    "\n"
    "Q8R needs to alter this file in order to play.";

// A file opened for writing whose new content could not take its place:
// "could not be opened for writing" would send the player after the wrong
// cause.
const char* const kCustomDarkinstNotReplaced =
    "The file \"\\q8r\\Darkinst.cfg\"\n"
    " could not be replaced with its new content.\n"
    "\n"
    "Q8R needs to alter this file in order to play. Close any program\n"
    "that may be using the game folder, then run Q8RPatcher again.";

const char* const kDefaultDarkinstNotReplaced =
    "The file \"Darkinst.cfg\"\n"
    " could not be replaced with its new content.\n"
    "\n"
    "Q8R needs to alter this file in order to play. Close any program\n"
    "that may be using the game folder, then run Q8RPatcher again.";

// The game root's file is named relative to the working directory, which is
// the game root; the mod folder's file is deleted under its absolute name.
const char* const kDefaultDarkinst = "Darkinst.cfg";
const char* const kCustomDarkinstDelete = "%s\\q8r\\darkinst.cfg";
const char* const kCopiedInstallCfg = ".\\q8r\\install.cfg";
const char* const kCustomDarkinst = ".\\q8r\\Darkinst.cfg";

const char* const kModEntryTail = "\\q8r+";
const char* const kMoviesEntryTail = "\\movies+";

// The v1.0 layout's entries for the mod folder, at the head of each list.
const std::string kOldModPrefix = ".\\q8r+";
const std::string kOldMoviesPrefix = ".\\q8r\\movies+";

const ConfigKey* const kListKeys[] = {&kResnameBaseKey, &kLoadPathKey, &kScriptModulePathKey};

void FailWrite(const char* text) {
    ShowMessageBox(text, kErrorCaption, kMessageBoxError);
    EndProgram(1);
}

// Lines before the first install_path line, lines that are their key alone and
// a movie_path line met without a prefix keep their bytes.
LineEnd AddModEntries(std::string& line, std::string& prefix) {
    if (HoldsKey(line, kInstallPathKey)) {
        if (HasValue(line, kInstallPathKey)) prefix = KeyValue(line, kInstallPathKey) + kModEntryTail;
        return kWithLineEnd;
    }
    for (const ConfigKey* key : kListKeys) {
        if (!HoldsKey(line, *key)) continue;
        if (HasValue(line, *key)) line.insert(key->valuePosition, prefix);
        return kWithLineEnd;
    }
    if (HoldsKey(line, kMoviePathKey)) {
        if (prefix.empty() || !HasValue(line, kMoviePathKey)) return kWithLineEnd;
        prefix.pop_back();
        prefix += kMoviesEntryTail;
        line.insert(kMoviePathKey.valuePosition, prefix);
        return kWithheldLineEnd;
    }
    return kWithLineEnd;
}

bool StandsAtValue(const std::string& line, const ConfigKey& key, const std::string& entry) {
    return line.compare(key.valuePosition, entry.size(), entry) == 0;
}

// Only an old prefix at the head of its list is taken out: bytes elsewhere in
// the line that happen to spell it belong to other entries.
LineEnd RemoveOldModEntries(std::string& line, bool& changed) {
    for (const ConfigKey* key : kListKeys) {
        if (!HoldsKey(line, *key)) continue;
        if (HasValue(line, *key) && StandsAtValue(line, *key, kOldModPrefix)) {
            line.erase(key->valuePosition, kOldModPrefix.size());
            changed = true;
        }
        return kWithLineEnd;
    }
    if (HoldsKey(line, kMoviePathKey) && HasValue(line, kMoviePathKey) &&
        StandsAtValue(line, kMoviePathKey, kOldMoviesPrefix)) {
        line.erase(kMoviePathKey.valuePosition, kOldMoviesPrefix.size());
        changed = true;
        return kWithheldLineEnd;
    }
    return kWithLineEnd;
}

}  // namespace

// A file too large for memory is treated as one that cannot be read. The
// rule runs once to learn whether anything changes, and again as the file
// is written, so the rewritten text is never held whole.
void ResetDefaultDarkinst() {
    try {
        const ConfigLines read = ReadConfigLines(kDefaultDarkinst);
        if (!read.opened) return;

        bool changed = false;
        const ConfigRule rule = [&](std::string& line) { return RemoveOldModEntries(line, changed); };
        ForEachConfigLine(read, [&](std::string_view view, bool) {
            std::string line(view);
            rule(line);
        });
        // A file that never held the old layout's entries keeps its exact bytes.
        if (!changed) return;
        bool opened = false;
        if (!RewriteConfigFile(kDefaultDarkinst, read, rule, &opened)) {
            FailWrite(opened ? kDefaultDarkinstNotReplaced : kDefaultDarkinstNotWritable);
        }
    } catch (const std::bad_alloc&) {
    }
}

void CreateCustomDarkinst() {
    // A root too long for the buffer would give a cut-short name, which could
    // be another file: then nothing is deleted, and an earlier Darkinst.cfg
    // makes the rename below fail.
    char deletePath[kPathBufferSize];
    if (FormatPath(deletePath, kCustomDarkinstDelete, GameRoot)) DeleteFiles(deletePath);

    if (!Files().rename(kCopiedInstallCfg, kCustomDarkinst)) {
        ShowMessageBox(kCustomDarkinstFailed, kErrorCaption, kMessageBoxError);
        return;
    }

    // Writing what an unreadable file gave would replace the copy with an
    // empty file; the copy is left as it is and the step reports it failed.
    try {
        const ConfigLines read = ReadConfigLines(kCustomDarkinst);
        if (read.opened) {
            std::string prefix;
            const ConfigRule rule = [&](std::string& line) { return AddModEntries(line, prefix); };
            bool opened = false;
            if (!RewriteConfigFile(kCustomDarkinst, read, rule, &opened)) {
                FailWrite(opened ? kCustomDarkinstNotReplaced : kCustomDarkinstNotWritable);
            }
            return;
        }
    } catch (const std::bad_alloc&) {
    }
    ShowMessageBox(kCustomDarkinstFailed, kErrorCaption, kMessageBoxError);
}
