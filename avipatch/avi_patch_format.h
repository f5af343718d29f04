// The patch data file format: a 32-byte header, a table of segment entries
// and the literal data, all little-endian. Read by the engine and the
// maintainers' tool, written by the tool.
#pragma once

#include <cstddef>
#include <cstdint>

// The first 32 bytes of a patch data file.
struct AviPatchHeader {
    char magic[16];  // "Q8R_AviPatchData", no terminating zero
    uint32_t bufferSize;
    uint32_t originalSize;
    uint32_t wordCount;
    uint32_t tableSum;
};

constexpr size_t kAviPatchHeaderSize = 32;
extern const char kAviPatchMagic[17];

// The smallest bufferSize a file may state.
constexpr uint32_t kSmallestStatedBuffer = 256;
// The smallest working buffer the engine uses, whatever the header says.
constexpr uint32_t kMinimumPatchBuffer = 0x100000;
// The fewest words a table holds (one literal entry), and the most whose
// size in bytes still fits in 32 bits.
constexpr uint32_t kMinimumPatchWords = 2;
constexpr uint32_t kMaximumPatchWords = 0x3FFFFFFF;
// Offsets and the original's size stay below 2^31.
constexpr uint32_t kLargestOriginal = 0x7FFFFFFF;
constexpr uint32_t kLiteralFlag = 0x80000000u;

AviPatchHeader DecodeAviPatchHeader(const uint8_t* bytes);
// Every way a header breaks the format, one bit each; 0 for a usable one.
enum HeaderFault : uint32_t {
    kWrongMagic = 1,
    kBufferTooSmall = 2,
    kTooFewWords = 4,
    kTooManyWords = 8,  // the table's size in bytes would not fit in 32 bits
};
uint32_t AviPatchHeaderFaults(const AviPatchHeader& header);
void EncodeAviPatchHeader(const AviPatchHeader& header, uint8_t* bytes);
// bufferSize as the engine uses it; segments are at most this less 8.
uint32_t EffectivePatchBuffer(uint32_t bufferSize);

uint32_t LoadLittle32(const uint8_t* bytes);
void StoreLittle32(uint8_t* bytes, uint32_t value);

// The sum of the run read as little-endian words, the last one padded with
// zero bytes.
uint32_t SegmentChecksum(const uint8_t* bytes, size_t length);

// One entry of the segment table.
struct PatchSegment {
    bool literal;
    uint32_t length;
    uint32_t checksum;
    uint32_t offset;  // into the original; copy segments only
};

// Walks a segment table entry by entry, never reading past its last word.
struct SegmentCursor {
    const uint8_t* table;
    uint32_t wordCount;
    uint32_t nextWord = 0;  // words consumed so far
};

enum SegmentStep {
    kSegmentRead,
    kTableEnd,
    kEntryPastTable,  // the last entry needs more words than the table has
};

SegmentStep NextSegment(SegmentCursor& cursor, PatchSegment* segment);

// A segment must leave 8 bytes of the working buffer for the checksum's padding.
bool SegmentTooLong(const PatchSegment& segment, uint32_t bufferSize);
// Whether every entry fits the table and every segment the buffer.
bool TableHasItsShape(const uint8_t* table, uint32_t wordCount, uint32_t bufferSize);
