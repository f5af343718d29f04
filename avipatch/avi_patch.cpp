#include "avi_patch.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "file_replacement.h"
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
    Replacement fresh;  // the new file, ".new" beside the video
    uint8_t* buffer = nullptr;
    uint32_t bufferSize = 0;
    uint8_t* table = nullptr;
};

void CloseRunFiles(PatchRun& run) {
    const FileAccess& files = Files();
    if (run.original) files.close(run.original);
    if (run.patch) files.close(run.patch);
    run.original = run.patch = nullptr;
}

// Reads and checks the patch data file and writes the corrected video into
// the new file, which is left open for the swap.
PatchResult BuildNewFile(PatchRun& run, const char* aviPath, PatchProgress progress) {
    const FileAccess& files = Files();
    uint8_t headerBytes[kAviPatchHeaderSize];
    if (files.read(run.patch, headerBytes, sizeof headerBytes) != sizeof headerBytes) return UnexpectedEnd;
    const AviPatchHeader header = DecodeAviPatchHeader(headerBytes);
    const uint32_t faults = AviPatchHeaderFaults(header);
    if (faults & kWrongMagic) return IncorrectDataFile;
    if (faults) return CorruptDataFile;
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

    // A file that says more than it holds is refused before anything is made.
    if (!TableHasItsShape(run.table, wordCount, header.bufferSize)) return CorruptDataFile;

    if (!BeginReplacement(run.fresh, aviPath, ".new")) return CantCreateNewFile;
    SegmentCursor cursor = {run.table, wordCount};
    PatchSegment segment;
    while (NextSegment(cursor, &segment) == kSegmentRead) {
        FileHandle* source = run.patch;
        if (!segment.literal) {
            source = run.original;
            if (!files.seek(run.original, segment.offset)) return UnexpectedEnd;
        }
        if (files.read(source, run.buffer, segment.length) != segment.length) return UnexpectedEnd;
        if (SegmentChecksum(run.buffer, segment.length) != segment.checksum) {
            return segment.literal ? IncorrectDataFile : CorruptOriginal;
        }
        if (!WriteReplacement(run.fresh, run.buffer, segment.length)) return CantCreateNewFile;
        // The entry's first word for a literal, its second for a copy.
        if (progress) progress(cursor.nextWord - 2, wordCount);
    }
    return PatchSuccessful;
}

// Puts the new file in the video's place and keeps the original bytes under
// the backup name. The video's name holds the original or the corrected file
// at every moment: the backup is a second name (or a copy) of the original,
// and the new file then replaces the video in one step.
PatchResult SwapIn(PatchRun& run, const std::string& oldPath) {
    const FileAccess& files = Files();
    const char* video = run.fresh.target.c_str();
    // A backup left by an earlier run would otherwise block this one.
    files.remove(oldPath.c_str());
    const bool linked = files.link && files.link(video, oldPath.c_str());
    if (!linked && !ReplaceWithCopy(video, oldPath.c_str(), ".q8r-tmp", run.buffer, run.bufferSize)) {
        AbandonReplacement(run.fresh);
        return CantCreateNewFile;
    }
    if (!CommitReplacement(run.fresh)) {
        // A replace that failed half-way took the video's name: the backup
        // is then the original's only whole copy.
        if (files.exists(video)) files.remove(oldPath.c_str());
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
    const std::string oldPath = std::string(aviPath) + ".old";

    PatchResult code = BuildNewFile(run, aviPath, progress);
    // The new file is closed first, on every road out.
    if (code == PatchSuccessful && !FinishReplacement(run.fresh)) code = CantCreateNewFile;
    LeaveReplacement(run.fresh);
    CloseRunFiles(run);
    // A bad segment leaves what was written before it in ".new"; what could
    // not be written completely is of no use to anyone. A ".new" this run
    // did not make is not its to remove.
    if (code == CantCreateNewFile) AbandonReplacement(run.fresh);
    if (code == PatchSuccessful) code = SwapIn(run, oldPath);
    std::free(run.table);
    std::free(run.buffer);
    return code;
}

const char* PatchResultMessage(int32_t code) {
    const uint32_t index = static_cast<uint32_t>(code);
    return kPatchMessages[index > 9 ? 10 : index];
}
