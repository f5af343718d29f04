#include "file_replacement.h"

#include "platform.h"
#include "side_names.h"

namespace {

// Starting the disk's work behind every few MiB spreads it over the writing,
// so the flush at the commit waits for the last stretch only.
const uint64_t kWriteBackStretch = 8u << 20;
// A folder sync that fails once may pass on a second try; the change is
// made either way.
const int kFolderSyncTries = 3;

// A side file left by a run that was cut off is no one's, whatever it is: a
// file of another owner, a FIFO, a dangling link. A file that opens may be a
// second name of a file this run holds open (the video itself): on Windows
// such a name stays taken until every handle is closed, so it is renamed
// aside first, which frees the name at once, and removed under the other.
// The rest go by name; a remove never takes a folder, which is the player's,
// and the side file then cannot be made. The name is tried whether or not
// it is seen: Wine sees no dangling link.
void ClearStaleSideFile(const FileAccess& files, const std::string& side) {
    const std::string aside = side + kStaleSuffix;
    files.remove(aside.c_str());
    FileHandle* stale = files.open(side.c_str(), kOpenForReading);
    if (stale) {
        files.close(stale);
        if (files.rename(side.c_str(), aside.c_str()) && files.remove(aside.c_str())) return;
    }
    files.remove(side.c_str());
}

bool MakeSideFile(Replacement& replacement, const char* suffix, const char* model, bool withOwner) {
    const FileAccess& files = *replacement.files;
    replacement.side = replacement.target + suffix;
    ClearStaleSideFile(files, replacement.side);
    replacement.file = files.open(replacement.side.c_str(), kCreateNewForWriting);
    replacement.made = replacement.file != nullptr;
    // Before any content, so a private file's bytes are never readable by others.
    if (replacement.made && files.keepModeOf) files.keepModeOf(replacement.file, model, withOwner);
    return replacement.made;
}

}  // namespace

bool BeginReplacement(Replacement& replacement, const char* target, const char* suffix) {
    replacement = Replacement{};
    replacement.files = &Files();
    replacement.target = Files().followLinks(target);
    return MakeSideFile(replacement, suffix, replacement.target.c_str(), true);
}

bool BeginCopyReplacement(Replacement& replacement, const char* source, const char* target, const char* suffix) {
    replacement = Replacement{};
    replacement.files = &Files();
    replacement.target = target;
    return MakeSideFile(replacement, suffix, source, true);
}

bool BeginRewriteInPlace(Replacement& replacement, const char* target) {
    replacement = Replacement{};
    replacement.files = &Files();
    replacement.target = Files().followLinks(target);
    if (replacement.target == target) return false;
    // The name opened is the linked file's own, so no link is written through.
    replacement.file = Files().open(replacement.target.c_str(), kCreateForWriting);
    replacement.inPlace = true;
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
    if (replacement.inPlace) return replacement.onDisk;
    if (!replacement.onDisk) {
        files.remove(replacement.side.c_str());
        return false;
    }
    const bool existed = files.exists(replacement.target.c_str());
    if (!files.replace(replacement.side.c_str(), replacement.target.c_str())) {
        // A replace that failed half-way took the old file from its name:
        // the side file then holds the only copy of the content.
        if (!existed || files.exists(replacement.target.c_str())) files.remove(replacement.side.c_str());
        else replacement.made = false;
        return false;
    }
    for (int tries = 0; tries < kFolderSyncTries; ++tries) {
        if (files.syncFolderOf(replacement.target.c_str())) break;
    }
    return true;
}

void AbandonReplacement(Replacement& replacement) {
    LeaveReplacement(replacement);
    if (replacement.made) replacement.files->remove(replacement.side.c_str());
    replacement.made = false;
}

void LeaveReplacement(Replacement& replacement) {
    if (replacement.file) replacement.files->close(replacement.file);
    replacement.file = nullptr;
}

bool ReplaceWithCopy(const char* source, const char* target, const char* suffix, void* buffer, size_t size) {
    const FileAccess& files = Files();
    FileHandle* in = files.open(source, kOpenForReading);
    if (!in) return false;
    Replacement copy;
    bool copied = BeginCopyReplacement(copy, source, target, suffix);
    uint64_t total = 0;
    while (copied) {
        const size_t got = files.read(in, buffer, size);
        total += got;
        copied = got == 0 || WriteReplacement(copy, buffer, got);
        if (got < size) break;
    }
    // A short read is the end of the file or an error; only the size tells.
    uint64_t sourceSize = 0;
    copied = copied && files.size(in, &sourceSize) && total == sourceSize;
    files.close(in);
    if (!copied) {
        AbandonReplacement(copy);
        return false;
    }
    return CommitReplacement(copy);
}
