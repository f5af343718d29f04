#include "migration_steps.h"

#include "file_operations.h"
#include "game_root.h"
#include "path_format.h"

const char* const kConfigItems[9] = {
    "cam.cfg", "dark.cfg", "install.cfg", "user.cfg", "motiondb.bin",
    "lgvid.ax", "user.bnd", "dark.bnd", "saves",
};

const char* const kVoiceFolders[23] = {
    "cop1", "cop2", "cop3", "femalemech", "femalenoble", "femalenoble2",
    "femaleservant", "guard1", "guard2", "guard3", "hammer1", "hammer2",
    "hammer3", "kedar", "malak", "malemech", "malenoble", "maleservant",
    "smug1", "smug2", "smug3", "truart", "zaya",
};

// A path that does not fit its buffer is skipped, like any other failed item:
// results are not examined and the step goes on.

void RemoveOldLauncher() {
    char path[kPathBufferSize];
    if (FormatPath(path, "%s\\q8r.exe", GameRoot)) DeleteFiles(path);
}

void CopyConfigFiles() {
    char target[kPathBufferSize];
    if (!FormatPath(target, "%s\\q8r", GameRoot)) return;
    char source[kPathBufferSize];
    for (const char* item : kConfigItems) {
        if (FormatPath(source, "%s\\%s", GameRoot, item)) CopyFiles(source, target);
    }
}

namespace {

// Every item of the mod's English folder of `kind` one level up.
void MoveEnglishItemsUp(const char* kind) {
    char source[kPathBufferSize];
    char target[kPathBufferSize];
    if (FormatPath(source, "%s\\q8r\\%s\\english\\*", GameRoot, kind) &&
        FormatPath(target, "%s\\q8r\\%s\\", GameRoot, kind)) {
        MoveFiles(source, target);
    }
}

}  // namespace

void MoveBookFiles() {
    MoveEnglishItemsUp("books");
}

void MoveStringFiles() {
    MoveEnglishItemsUp("strings");
}

void MoveSoundFiles() {
    char source[kPathBufferSize];
    char target[kPathBufferSize];
    for (const char* voice : kVoiceFolders) {
        if (FormatPath(source, "%s\\q8r\\snd\\%s\\english\\*", GameRoot, voice) &&
            FormatPath(target, "%s\\q8r\\snd\\%s\\", GameRoot, voice)) {
            MoveFiles(source, target);
        }
    }
}
