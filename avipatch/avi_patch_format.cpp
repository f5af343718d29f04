#include "avi_patch_format.h"

#include <bit>
#include <cstring>

const char kAviPatchMagic[17] = "Q8R_AviPatchData";

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

uint32_t AviPatchHeaderFaults(const AviPatchHeader& header) {
    uint32_t faults = 0;
    if (std::memcmp(header.magic, kAviPatchMagic, sizeof header.magic) != 0) faults |= kWrongMagic;
    if (header.bufferSize < kSmallestStatedBuffer) faults |= kBufferTooSmall;
    if (header.wordCount < kMinimumPatchWords) faults |= kTooFewWords;
    if (header.wordCount > kMaximumPatchWords) faults |= kTooManyWords;
    return faults;
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

SegmentStep NextSegment(SegmentCursor& cursor, PatchSegment* segment) {
    const uint32_t left = cursor.wordCount - cursor.nextWord;
    if (left == 0) return kTableEnd;
    const uint8_t* entry = cursor.table + size_t{cursor.nextWord} * 4;
    const uint32_t first = LoadLittle32(entry);
    segment->literal = (first & kLiteralFlag) != 0;
    const uint32_t words = segment->literal ? 2 : 3;
    if (left < words) return kEntryPastTable;
    segment->length = first & ~kLiteralFlag;
    segment->checksum = LoadLittle32(entry + 4);
    segment->offset = segment->literal ? 0 : LoadLittle32(entry + 8);
    cursor.nextWord += words;
    return kSegmentRead;
}

bool SegmentTooLong(const PatchSegment& segment, uint32_t bufferSize) {
    return segment.length > EffectivePatchBuffer(bufferSize) - 8;
}

bool TableHasItsShape(const uint8_t* table, uint32_t wordCount, uint32_t bufferSize) {
    SegmentCursor cursor = {table, wordCount};
    PatchSegment segment;
    for (;;) {
        const SegmentStep step = NextSegment(cursor, &segment);
        if (step == kTableEnd) return true;
        if (step == kEntryPastTable || SegmentTooLong(segment, bufferSize)) return false;
    }
}
