#include "avi_patch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "file_replacement.h"
#include "platform.h"
#include "side_names.h"

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

// A table of many short segments would cost a read and a write call each:
// reads of neighbouring ones go through a window of each input instead, and
// the output collects in the working buffer until it is full.
constexpr size_t kReadWindow = 256 << 10;
// Copies whose sources lie at most this far apart are read in one call...
constexpr uint64_t kReadGap = 4096;
// ...looking past at most this many literal entries between them.
constexpr uint32_t kLookPastLiterals = 64;

// What was last read of one input: bytes[0, held) are the file's from `start`.
struct ReadWindow {
    FileHandle* file = nullptr;
    uint8_t* bytes = nullptr;
    uint64_t start = 0;
    size_t held = 0;
    size_t used = 0;  // for a file read in order: bytes handed out so far
};

// The next `length` bytes of a file read in order, the patch's literal data.
bool TakeInOrder(ReadWindow& window, uint8_t* to, size_t length) {
    const FileAccess& files = Files();
    const size_t ready = std::min(length, window.held - window.used);
    std::memcpy(to, window.bytes + window.used, ready);
    window.used += ready;
    to += ready;
    length -= ready;
    if (length == 0) return true;
    if (length >= kReadWindow) return files.read(window.file, to, length) == length;
    window.held = files.read(window.file, window.bytes, kReadWindow);
    window.used = std::min(length, window.held);
    std::memcpy(to, window.bytes, window.used);
    return window.used == length;
}

// A copy's bytes from the original; on a miss, the window is read from the
// copy on to the end of the copies after it whose sources follow closely.
bool TakeCopy(ReadWindow& window, SegmentCursor ahead, uint32_t offset, uint8_t* to, size_t length) {
    const FileAccess& files = Files();
    if (offset >= window.start && offset + length <= window.start + window.held) {
        std::memcpy(to, window.bytes + (offset - window.start), length);
        return true;
    }
    if (length >= kReadWindow) return files.seek(window.file, offset) && files.read(window.file, to, length) == length;
    uint64_t end = uint64_t{offset} + length;
    PatchSegment next;
    for (uint32_t literals = 0; literals < kLookPastLiterals && NextSegment(ahead, &next) == kSegmentRead;) {
        if (next.literal) {
            ++literals;
            continue;
        }
        const uint64_t nextEnd = uint64_t{next.offset} + next.length;
        if (next.offset < offset || next.offset > end + kReadGap || nextEnd - offset > kReadWindow) break;
        end = std::max(end, nextEnd);
    }
    window.start = offset;
    window.held = 0;
    if (!files.seek(window.file, offset)) return false;
    window.held = files.read(window.file, window.bytes, static_cast<size_t>(end - offset));
    if (window.held < length) return false;
    std::memcpy(to, window.bytes, length);
    return true;
}

// Everything one call holds; released by ReleaseRun on every path.
struct PatchRun {
    FileHandle* patch = nullptr;
    FileHandle* original = nullptr;
    Replacement fresh;  // the new file, ".new" beside the video
    uint8_t* buffer = nullptr;
    uint32_t bufferSize = 0;
    uint8_t* table = nullptr;
    uint8_t* windows = nullptr;  // the two read windows' bytes
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

    run.windows = Allocate(2 * kReadWindow);
    if (!run.windows) return InsufficientMemory;
    ReadWindow literals{run.patch, run.windows};
    ReadWindow copies{run.original, run.windows + kReadWindow};

    if (!BeginReplacement(run.fresh, aviPath, kNewVideoSuffix)) return CantCreateNewFile;
    size_t filled = 0;  // bytes of the output waiting in the buffer
    const auto flush = [&run, &filled] {
        const bool written = WriteReplacement(run.fresh, run.buffer, filled);
        filled = 0;
        return written;
    };
    SegmentCursor cursor = {run.table, wordCount};
    PatchSegment segment;
    PatchResult code = PatchSuccessful;
    while (NextSegment(cursor, &segment) == kSegmentRead) {
        if (filled + segment.length > run.bufferSize && !flush()) return CantCreateNewFile;
        uint8_t* at = run.buffer + filled;
        const bool read = segment.literal ? TakeInOrder(literals, at, segment.length)
                                          : TakeCopy(copies, cursor, segment.offset, at, segment.length);
        if (!read) {
            code = UnexpectedEnd;
        } else if (SegmentChecksum(at, segment.length) != segment.checksum) {
            code = segment.literal ? IncorrectDataFile : CorruptOriginal;
        }
        // What came before a bad segment is still written.
        if (code != PatchSuccessful) return flush() ? code : CantCreateNewFile;
        filled += segment.length;
        // The entry's first word for a literal, its second for a copy.
        if (progress) progress(cursor.nextWord - 2, wordCount);
    }
    return flush() ? PatchSuccessful : CantCreateNewFile;
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
    if (!linked && !ReplaceWithCopy(video, oldPath.c_str(), kRewriteSuffix, run.buffer, run.bufferSize)) {
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
    const std::string oldPath = std::string(aviPath) + kOldVideoSuffix;

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
    std::free(run.windows);
    std::free(run.table);
    std::free(run.buffer);
    return code;
}

const char* PatchResultMessage(int32_t code) {
    const uint32_t index = static_cast<uint32_t>(code);
    return kPatchMessages[index > 9 ? 10 : index];
}
