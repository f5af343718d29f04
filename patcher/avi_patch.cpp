#include "avi_patch.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"

namespace {

const char* const kPatchMessages[] = {
    "Patch Successful",
    "Can't Open Data File",
    "Can't Open Original Avi File.",
    "Unexpected End of Data File",
    "Incorrect Data File",
    "Corrupt Data File",
    "Insufficient Memory Available",
    "Incorrect Original Avi File\nFile may all ready be patched.",
    "Can't Create New Avi File",
    "Incorrect or Corrupt Original Avi File",
    "Unknown Error Has Occurred",
};

uint8_t* Allocate(size_t size) {
    return static_cast<uint8_t*>(CurrentPlatform().allocate(size));
}

// Everything one call holds; released by ReleaseRun on every path.
struct PatchRun {
    FileHandle* patch = nullptr;
    FileHandle* original = nullptr;
    FileHandle* fresh = nullptr;
    bool freshCreated = false;
    uint8_t* buffer = nullptr;
    uint32_t bufferSize = 0;
    uint8_t* table = nullptr;
};

void CloseRunFiles(PatchRun& run) {
    const FileAccess& files = Files();
    if (run.fresh) files.close(run.fresh);
    if (run.original) files.close(run.original);
    if (run.patch) files.close(run.patch);
    run.fresh = run.original = run.patch = nullptr;
}

// Reads and checks the patch data file and writes the corrected video to
// `newPath`, flushed and closed.
PatchResult BuildNewFile(PatchRun& run, const char* aviPath, const std::string& newPath, PatchProgress progress) {
    const FileAccess& files = Files();
    uint8_t headerBytes[kAviPatchHeaderSize];
    if (files.read(run.patch, headerBytes, sizeof headerBytes) != sizeof headerBytes) return UnexpectedEnd;
    const AviPatchHeader header = DecodeAviPatchHeader(headerBytes);
    if (std::memcmp(header.magic, kAviPatchMagic, sizeof header.magic) != 0) return IncorrectDataFile;
    // Past kMaximumPatchWords the table's size would wrap on 32-bit builds.
    if (header.bufferSize < kSmallestStatedBuffer || header.wordCount < kMinimumPatchWords ||
        header.wordCount > kMaximumPatchWords) {
        return CorruptDataFile;
    }
    run.bufferSize = EffectivePatchBuffer(header.bufferSize);
    run.buffer = Allocate(run.bufferSize);
    if (!run.buffer) return InsufficientMemory;
    const uint32_t wordCount = header.wordCount;
    const size_t tableBytes = size_t{wordCount} * 4;
    run.table = Allocate(tableBytes);
    if (!run.table) return InsufficientMemory;
    if (files.read(run.patch, run.table, tableBytes) != tableBytes) return UnexpectedEnd;
    if (SegmentChecksum(run.table, tableBytes) != header.tableSum) return IncorrectDataFile;

    run.original = files.open(aviPath, kOpenForReading);
    if (!run.original) return CantOpenOriginal;
    uint64_t originalSize = 0;
    if (!files.size(run.original, &originalSize) || originalSize != header.originalSize) return IncorrectOriginal;

    run.fresh = files.open(newPath.c_str(), kCreateForWriting);
    if (!run.fresh) return CantCreateNewFile;
    run.freshCreated = true;

    const uint32_t longest = run.bufferSize - 8;
    SegmentCursor cursor = {run.table, wordCount};
    PatchSegment segment;
    for (;;) {
        const SegmentStep step = NextSegment(cursor, &segment);
        if (step == kTableEnd) break;
        // A file that says more than its table or buffer holds is refused
        // here, before anything is read on its word.
        if (step == kEntryPastTable || segment.length > longest) return CorruptDataFile;
        FileHandle* source = run.patch;
        if (!segment.literal) {
            source = run.original;
            if (!files.seek(run.original, segment.offset)) return UnexpectedEnd;
        }
        if (files.read(source, run.buffer, segment.length) != segment.length) return UnexpectedEnd;
        if (SegmentChecksum(run.buffer, segment.length) != segment.checksum) {
            return segment.literal ? IncorrectDataFile : CorruptOriginal;
        }
        if (!files.write(run.fresh, run.buffer, segment.length)) return CantCreateNewFile;
        // The entry's first word for a literal, its second for a copy.
        if (progress) progress(cursor.nextWord - 2, wordCount);
    }

    // The swap must never put a file in place that is not on the disk yet.
    if (!files.flush(run.fresh)) return CantCreateNewFile;
    FileHandle* fresh = run.fresh;
    run.fresh = nullptr;
    if (!files.close(fresh)) return CantCreateNewFile;
    return PatchSuccessful;
}

// Makes `to` a durable copy of `from` with the run's buffer.
bool CopyFileBytes(const PatchRun& run, const char* from, const char* to) {
    const FileAccess& files = Files();
    FileHandle* source = files.open(from, kOpenForReading);
    if (!source) return false;
    FileHandle* target = files.open(to, kCreateForWriting);
    if (!target) {
        files.close(source);
        return false;
    }
    bool copied = true;
    for (;;) {
        const size_t got = files.read(source, run.buffer, run.bufferSize);
        if (got > 0 && !files.write(target, run.buffer, got)) {
            copied = false;
            break;
        }
        if (got < run.bufferSize) break;
    }
    uint64_t sourceSize = 0;
    uint64_t targetSize = 0;
    copied = copied && files.size(source, &sourceSize) && files.size(target, &targetSize) &&
             sourceSize == targetSize && files.flush(target);
    copied = files.close(target) && copied;
    files.close(source);
    if (!copied) files.remove(to);
    return copied;
}

// Puts the new file in the video's place and keeps the original bytes under
// the backup name. The video's name holds the original or the corrected file
// at every moment: the backup is a second name (or a copy) of the original,
// and the new file then replaces the video in one step.
PatchResult SwapIn(const PatchRun& run, const char* aviPath, const std::string& newPath, const std::string& oldPath) {
    const FileAccess& files = Files();
    // A backup left by an earlier run would otherwise block this one.
    files.remove(oldPath.c_str());
    const bool linked = files.link && files.link(aviPath, oldPath.c_str());
    if (!linked && !CopyFileBytes(run, aviPath, oldPath.c_str())) return CantCreateNewFile;
    if (!files.replace(newPath.c_str(), aviPath)) {
        files.remove(oldPath.c_str());
        return CantCreateNewFile;
    }
    return PatchSuccessful;
}

}  // namespace

PatchResult ApplyAviPatch(const char* aviPath, const char* patchPath, PatchProgress progress) {
    const FileAccess& files = Files();
    PatchRun run;
    run.patch = files.open(patchPath, kOpenForReading);
    if (!run.patch) return CantOpenDataFile;
    const std::string newPath = std::string(aviPath) + ".new";
    const std::string oldPath = std::string(aviPath) + ".old";

    PatchResult code = BuildNewFile(run, aviPath, newPath, progress);
    CloseRunFiles(run);
    if (code == PatchSuccessful) code = SwapIn(run, aviPath, newPath, oldPath);
    // What could not be written completely is of no use to anyone.
    if (code == CantCreateNewFile && run.freshCreated) files.remove(newPath.c_str());
    std::free(run.table);
    std::free(run.buffer);
    return code;
}

const char* PatchResultMessage(int32_t code) {
    const uint32_t index = static_cast<uint32_t>(code);
    return kPatchMessages[index > 9 ? 10 : index];
}
