#include "avi_patch_maker.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr uint64_t kHashMultiplier = 0x100000001B3ull;
// How far behind the end of a copy an in-place overwrite may reach, and how
// many equal bytes after it count as the original going on.
constexpr size_t kResyncReach = 16;
constexpr size_t kResyncMatch = 16;

// Bytes from which `a` and `b` first differ, at most `limit`.
size_t CommonLength(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t length = 0;
    while (length + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + length, 8);
        std::memcpy(&y, b + length, 8);
        if (x != y) break;
        length += 8;
    }
    while (length < limit && a[length] == b[length]) ++length;
    return length;
}

uint64_t BlockHash(const uint8_t* bytes, size_t length) {
    uint64_t hash = 0;
    for (size_t k = 0; k < length; ++k) hash = hash * kHashMultiplier + bytes[k];
    return hash;
}

// Where the original's blocks start, by hash; one block per bucket.
struct BlockIndex {
    std::vector<uint32_t> buckets;  // block offset + 1, 0 for none
    int shift = 64;

    size_t Bucket(uint64_t hash) const { return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift); }
};

BlockIndex IndexOriginal(const uint8_t* original, size_t size, size_t block) {
    BlockIndex index;
    const size_t blocks = size / block;
    if (blocks == 0) return index;
    int bits = 10;
    while ((size_t{1} << bits) < 2 * blocks) ++bits;
    index.buckets.assign(size_t{1} << bits, 0);
    index.shift = 64 - bits;
    for (size_t j = 0; j < blocks; ++j) {
        uint32_t& slot = index.buckets[index.Bucket(BlockHash(original + j * block, block))];
        if (slot == 0) slot = static_cast<uint32_t>(j * block + 1);
    }
    return index;
}

struct PatchWriter {
    std::vector<uint32_t> table;
    std::vector<uint8_t> literal;
    uint32_t longest = 0;

    void Copy(const uint8_t* original, size_t offset, size_t length) {
        while (length > 0) {
            const uint32_t part = static_cast<uint32_t>(std::min<size_t>(length, longest));
            table.push_back(part);
            table.push_back(SegmentChecksum(original + offset, part));
            table.push_back(static_cast<uint32_t>(offset));
            offset += part;
            length -= part;
        }
    }
    void Literal(const uint8_t* bytes, size_t length) {
        while (length > 0) {
            const uint32_t part = static_cast<uint32_t>(std::min<size_t>(length, longest));
            table.push_back(kLiteralFlag | part);
            table.push_back(SegmentChecksum(bytes, part));
            literal.insert(literal.end(), bytes, bytes + part);
            bytes += part;
            length -= part;
        }
    }
};

}  // namespace

bool MakeAviPatch(const uint8_t* original, size_t originalSize, const uint8_t* corrected, size_t correctedSize,
                  const PatchMakeOptions& options, std::vector<uint8_t>* patch, std::string* error) {
    if (originalSize > kLargestOriginal) {
        *error = "the original is larger than 2147483647 bytes, which the format cannot address";
        return false;
    }
    if (options.bufferSize < kSmallestStatedBuffer) {
        *error = "the buffer size must be at least 256";
        return false;
    }
    if (options.blockSize < 4) {
        *error = "the block size must be at least 4";
        return false;
    }
    const uint32_t allowed = std::min<uint32_t>(EffectivePatchBuffer(options.bufferSize) - 8, ~kLiteralFlag);
    if (options.maxSegment > allowed) {
        *error = "segments may be at most " + std::to_string(allowed) + " bytes long with this buffer size";
        return false;
    }
    PatchWriter writer;
    writer.longest = options.maxSegment ? options.maxSegment : allowed;

    const size_t block = options.blockSize;
    const BlockIndex index = IndexOriginal(original, originalSize, block);
    uint64_t outgoing = 1;  // kHashMultiplier^(block - 1), for rolling the hash
    for (size_t k = 1; k < block; ++k) outgoing *= kHashMultiplier;

    size_t literalStart = 0;
    size_t p = 0;
    uint64_t hash = 0;
    bool hashed = false;
    size_t lastEnd = SIZE_MAX;  // where in the original the last copy ended
    // Emits the literal bytes so far and a copy of the run shared from
    // corrected[from] and original[offset], grown in both directions.
    const auto copyRun = [&](size_t from, size_t offset) {
        const size_t forward = std::min(correctedSize - from, originalSize - offset);
        const size_t end = from + CommonLength(corrected + from, original + offset, forward);
        while (from > literalStart && offset > 0 && corrected[from - 1] == original[offset - 1]) {
            --from;
            --offset;
        }
        writer.Literal(corrected + literalStart, from - literalStart);
        writer.Copy(original, offset, end - from);
        lastEnd = offset + (end - from);
        literalStart = p = end;
        hashed = false;
    };
    while (p < correctedSize) {
        // Most edits overwrite a few bytes in place: look for the original
        // going on just behind them before searching everywhere.
        if (lastEnd != SIZE_MAX) {
            const size_t resumeAt = lastEnd;
            lastEnd = SIZE_MAX;
            for (size_t skip = 1; skip <= kResyncReach; ++skip) {
                if (p + skip + kResyncMatch > correctedSize || resumeAt + skip + kResyncMatch > originalSize) break;
                if (CommonLength(corrected + p + skip, original + resumeAt + skip, kResyncMatch) == kResyncMatch) {
                    copyRun(p + skip, resumeAt + skip);
                    break;
                }
            }
            if (lastEnd != SIZE_MAX) continue;
        }
        if (index.buckets.empty() || p + block > correctedSize) break;
        if (!hashed) {
            hash = BlockHash(corrected + p, block);
            hashed = true;
        }
        const uint32_t slot = index.buckets[index.Bucket(hash)];
        if (slot != 0 && std::memcmp(original + slot - 1, corrected + p, block) == 0) {
            copyRun(p, slot - 1);
            continue;
        }
        if (p + block < correctedSize) hash = (hash - corrected[p] * outgoing) * kHashMultiplier + corrected[p + block];
        ++p;
    }
    writer.Literal(corrected + literalStart, correctedSize - literalStart);
    // The smallest valid table is one entry; an empty result needs it too.
    if (writer.table.empty()) {
        writer.table.push_back(kLiteralFlag);
        writer.table.push_back(0);
    }
    if (writer.table.size() > kMaximumPatchWords) {
        *error = "the patch would need more table words than the format allows";
        return false;
    }

    AviPatchHeader header;
    std::memcpy(header.magic, kAviPatchMagic, sizeof header.magic);
    header.bufferSize = options.bufferSize;
    header.originalSize = static_cast<uint32_t>(originalSize);
    header.wordCount = static_cast<uint32_t>(writer.table.size());
    header.tableSum = 0;
    for (uint32_t word : writer.table) header.tableSum += word;

    patch->assign(kAviPatchHeaderSize + 4 * writer.table.size() + writer.literal.size(), 0);
    uint8_t* out = patch->data();
    EncodeAviPatchHeader(header, out);
    out += kAviPatchHeaderSize;
    for (uint32_t word : writer.table) {
        StoreLittle32(out, word);
        out += 4;
    }
    if (!writer.literal.empty()) std::memcpy(out, writer.literal.data(), writer.literal.size());
    return true;
}

PatchDescription DescribeAviPatch(const uint8_t* patch, size_t patchSize, const uint8_t* original, size_t originalSize) {
    PatchDescription d;
    d.fileSize = patchSize;
    d.checkedOriginal = original != nullptr;
    auto problem = [&d](std::string text) { d.problems.push_back(std::move(text)); };
    if (patchSize < kAviPatchHeaderSize) {
        problem("the file is shorter than its 32-byte header");
        return d;
    }
    d.headerComplete = true;
    d.header = DecodeAviPatchHeader(patch);
    const AviPatchHeader& h = d.header;
    if (std::memcmp(h.magic, kAviPatchMagic, sizeof h.magic) != 0) problem("the magic is not Q8R_AviPatchData");
    if (h.bufferSize < kSmallestStatedBuffer) problem("bufferSize is below " + std::to_string(kSmallestStatedBuffer));
    if (h.wordCount < kMinimumPatchWords) problem("wordCount is below " + std::to_string(kMinimumPatchWords));
    if (h.wordCount > kMaximumPatchWords) problem("wordCount is above " + std::to_string(kMaximumPatchWords));
    if (!d.problems.empty()) return d;

    const uint64_t tableEnd = kAviPatchHeaderSize + uint64_t{h.wordCount} * 4;
    if (tableEnd > patchSize) {
        problem("the segment table is cut short");
        return d;
    }
    const uint8_t* table = patch + kAviPatchHeaderSize;
    const uint32_t sum = SegmentChecksum(table, size_t{h.wordCount} * 4);
    if (sum != h.tableSum) problem("tableSum does not match the table");
    if (original && originalSize != h.originalSize) {
        problem("the original is " + std::to_string(originalSize) + " bytes, the patch is for " +
                std::to_string(h.originalSize));
    }
    const bool originalFits = original && originalSize == h.originalSize;

    const uint32_t longest = EffectivePatchBuffer(h.bufferSize) - 8;
    uint64_t literalAt = tableEnd;
    SegmentCursor cursor = {table, h.wordCount};
    PatchSegment segment;
    for (;;) {
        const uint32_t at = cursor.nextWord;
        const SegmentStep step = NextSegment(cursor, &segment);
        if (step == kTableEnd) break;
        const std::string where = "entry at word " + std::to_string(at);
        if (step == kEntryPastTable) {
            problem(where + " runs past the end of the table");
            break;
        }
        const uint32_t length = segment.length;
        d.longestSegment = std::max(d.longestSegment, length);
        if (length > longest) problem(where + " is longer than the buffer size less 8");
        if (segment.literal) {
            ++d.literalSegments;
            d.literalBytes += length;
            if (literalAt + length > patchSize) {
                problem(where + " needs literal bytes past the end of the file");
            } else if (SegmentChecksum(patch + literalAt, length) != segment.checksum) {
                problem(where + " has a wrong checksum");
            }
            literalAt += length;
        } else {
            ++d.copySegments;
            d.copyBytes += length;
            if (uint64_t{segment.offset} + length > h.originalSize) {
                problem(where + " copies past the end of the original");
            } else if (originalFits && SegmentChecksum(original + segment.offset, length) != segment.checksum) {
                problem(where + " does not match the original");
            }
        }
    }
    return d;
}
