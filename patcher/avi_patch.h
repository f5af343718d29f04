// The patch engine: one original video and its patch data file in, the
// corrected video under the original's name out.
#pragma once

#include <cstddef>
#include <cstdint>

// Result codes; the engine returns 0 to 9, and 10 names the message for
// every other code.
enum PatchResult : int32_t {
    PatchSuccessful = 0,
    CantOpenDataFile = 1,
    CantOpenOriginal = 2,
    UnexpectedEnd = 3,
    IncorrectDataFile = 4,
    CorruptDataFile = 5,
    InsufficientMemory = 6,
    IncorrectOriginal = 7,
    CantCreateNewFile = 8,
    CorruptOriginal = 9,
    UnknownError = 10,
};

// Called after each segment has been written with the number of table words
// consumed so far less 2, and the table's word count.
typedef void (*PatchProgress)(uint32_t done, uint32_t total);

// The first 32 bytes of a patch data file, little-endian.
struct AviPatchHeader {
    char magic[16];  // "Q8R_AviPatchData", no terminating zero
    uint32_t bufferSize;
    uint32_t originalSize;
    uint32_t wordCount;
    uint32_t tableSum;
};

uint32_t SegmentChecksum(const uint8_t* bytes, size_t length);

PatchResult ApplyAviPatch(const char* aviPath, const char* patchPath, PatchProgress progress);

// The fixed English text for a result code.
const char* PatchResultMessage(int32_t code);

// Bytes in a patch data file's header, and the magic it starts with.
constexpr size_t kAviPatchHeaderSize = 32;
extern const char kAviPatchMagic[17];
// The smallest working buffer the engine uses, whatever the header says.
constexpr uint32_t kMinimumPatchBuffer = 0x100000;
// The largest table whose size in bytes still fits in 32 bits.
constexpr uint32_t kMaximumPatchWords = 0x3FFFFFFF;
constexpr uint32_t kLiteralFlag = 0x80000000u;

// Decodes the first kAviPatchHeaderSize bytes of a patch data file.
AviPatchHeader DecodeAviPatchHeader(const uint8_t* bytes);
void EncodeAviPatchHeader(const AviPatchHeader& header, uint8_t* bytes);
// bufferSize as the engine uses it.
uint32_t EffectivePatchBuffer(uint32_t bufferSize);

uint32_t LoadLittle32(const uint8_t* bytes);
void StoreLittle32(uint8_t* bytes, uint32_t value);
