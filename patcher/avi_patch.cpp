#include "avi_patch.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"

const char kAviPatchMagic[17] = "Q8R_AviPatchData";

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
    if (header.bufferSize < 256 || header.wordCount < 2 || header.wordCount > kMaximumPatchWords) {
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

    const uint8_t* table = run.table;
    const auto word = [table](uint32_t index) { return LoadLittle32(table + size_t{index} * 4); };
    const uint32_t longest = run.bufferSize - 8;
    for (uint32_t i = 0; i < wordCount; i += 2) {
        const uint32_t first = word(i);
        const bool literal = (first & kLiteralFlag) != 0;
        const uint32_t length = literal ? first & ~kLiteralFlag : first;
        // A file that says more than its table or buffer holds is refused
        // here, before anything is read on its word.
        if (wordCount - i < (literal ? 2u : 3u) || length > longest) return CorruptDataFile;
        const uint32_t expected = word(i + 1);
        PatchResult mismatch = IncorrectDataFile;
        FileHandle* source = run.patch;
        if (!literal) {
            ++i;
            mismatch = CorruptOriginal;
            source = run.original;
            if (!files.seek(run.original, word(i + 1))) return UnexpectedEnd;
        }
        if (files.read(source, run.buffer, length) != length) return UnexpectedEnd;
        if (SegmentChecksum(run.buffer, length) != expected) return mismatch;
        if (!files.write(run.fresh, run.buffer, length)) return CantCreateNewFile;
        if (progress) progress(i, wordCount);
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

uint32_t LoadLittle32(const uint8_t* bytes) {
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t value;
        std::memcpy(&value, bytes, 4);
        return value;
    } else {
        return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
    }
}

void StoreLittle32(uint8_t* bytes, uint32_t value) {
    for (int k = 0; k < 4; ++k) bytes[k] = static_cast<uint8_t>(value >> (8 * k));
}

AviPatchHeader DecodeAviPatchHeader(const uint8_t* bytes) {
    AviPatchHeader header;
    std::memcpy(header.magic, bytes, sizeof header.magic);
    header.bufferSize = LoadLittle32(bytes + 16);
    header.originalSize = LoadLittle32(bytes + 20);
    header.wordCount = LoadLittle32(bytes + 24);
    header.tableSum = LoadLittle32(bytes + 28);
    return header;
}

void EncodeAviPatchHeader(const AviPatchHeader& header, uint8_t* bytes) {
    std::memcpy(bytes, header.magic, sizeof header.magic);
    StoreLittle32(bytes + 16, header.bufferSize);
    StoreLittle32(bytes + 20, header.originalSize);
    StoreLittle32(bytes + 24, header.wordCount);
    StoreLittle32(bytes + 28, header.tableSum);
}

uint32_t EffectivePatchBuffer(uint32_t bufferSize) {
    return bufferSize < kMinimumPatchBuffer ? kMinimumPatchBuffer : bufferSize;
}

uint32_t SegmentChecksum(const uint8_t* bytes, size_t length) {
    uint32_t sum = 0;
    const size_t whole = length / 4;
    for (size_t k = 0; k < whole; ++k) sum += LoadLittle32(bytes + 4 * k);
    if (length % 4 != 0) {
        uint8_t tail[4] = {};
        std::memcpy(tail, bytes + 4 * whole, length % 4);
        sum += LoadLittle32(tail);
    }
    return sum;
}

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
