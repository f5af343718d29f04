#include "file_replacement.h"

#include "platform.h"

namespace {

// Starting the disk's work behind every few MiB spreads it over the writing,
// so the flush at the commit waits for the last stretch only.
const uint64_t kWriteBackStretch = 8u << 20;
// A folder sync that fails once may pass on a second try; the change is
// made either way.
const int kFolderSyncTries = 3;

// A side file left by a run that was cut off is no one's, but its name may
// be a second name of a file this run holds open (the video itself): on
// Windows such a name stays taken until every handle is closed. Renamed
// aside first, it frees the name at once, and is removed under the other.
void ClearStaleSideFile(const FileAccess& files, const std::string& side) {
    // Only a file: a folder of that name is the player's, and the side file
    // then cannot be made.
    FileHandle* stale = files.open(side.c_str(), kOpenForReading);
    if (!stale) return;
    files.close(stale);
    const std::string aside = side + ".stale";
    files.remove(aside.c_str());
    if (files.rename(side.c_str(), aside.c_str())) {
        files.remove(aside.c_str());
    } else {
        files.remove(side.c_str());
    }
}

}  // namespace

bool BeginReplacement(Replacement& replacement, const char* target, const char* suffix) {
    return BeginReplacement(replacement, target, suffix, Files());
}

bool BeginReplacement(Replacement& replacement, const char* target, const char* suffix, const FileAccess& files) {
    replacement = Replacement{};
    replacement.files = &files;
    replacement.target = files.followLinks(target);
    replacement.side = replacement.target + suffix;
    ClearStaleSideFile(files, replacement.side);
    replacement.file = files.open(replacement.side.c_str(), kCreateNewForWriting);
    return replacement.file != nullptr;
}

bool WriteReplacement(Replacement& replacement, const void* data, size_t size) {
    const FileAccess& files = *replacement.files;
    if (!files.write(replacement.file, data, size)) return false;
    replacement.written += size;
    if (replacement.written - replacement.handedToDisk >= kWriteBackStretch) {
        files.startWriteBack(replacement.file, replacement.handedToDisk,
                             replacement.written - replacement.handedToDisk);
        replacement.handedToDisk = replacement.written;
    }
    return true;
}

bool FinishReplacement(Replacement& replacement) {
    const FileAccess& files = *replacement.files;
    bool onDisk = files.flush(replacement.file);
    onDisk = files.close(replacement.file) && onDisk;
    replacement.file = nullptr;
    replacement.onDisk = onDisk;
    return onDisk;
}

bool CommitReplacement(Replacement& replacement) {
    const FileAccess& files = *replacement.files;
    if (replacement.file) FinishReplacement(replacement);
    if (!replacement.onDisk) {
        files.remove(replacement.side.c_str());
        return false;
    }
    const bool existed = files.exists(replacement.target.c_str());
    if (!files.replace(replacement.side.c_str(), replacement.target.c_str())) {
        // A replace that failed half-way took the old file from its name:
        // the side file then holds the only copy of the content.
        if (!existed || files.exists(replacement.target.c_str())) files.remove(replacement.side.c_str());
        return false;
    }
    for (int tries = 0; tries < kFolderSyncTries; ++tries) {
        if (files.syncFolderOf(replacement.target.c_str())) break;
    }
    return true;
}

void AbandonReplacement(Replacement& replacement) {
    LeaveReplacement(replacement);
    if (replacement.files) replacement.files->remove(replacement.side.c_str());
}

void LeaveReplacement(Replacement& replacement) {
    if (replacement.file) replacement.files->close(replacement.file);
    replacement.file = nullptr;
}
