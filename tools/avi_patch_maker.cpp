#include "avi_patch_maker.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

// Matches are found from runs of this many equal bytes, read as one word.
constexpr size_t kSeedLength = 8;
// The original is indexed at every second position: a match of at least
// kSeedLength + 1 bytes is still found, and the index takes half the memory.
constexpr size_t kIndexStep = 2;
// Shorter matches pay for their entry only between two copies, and kept,
// they hide longer ones that start a few bytes on (measured on real pairs).
constexpr size_t kShortestMatch = 13;
// After a match at least this long the search goes on at its end; after a
// shorter one at the next byte, where a longer one may start.
constexpr size_t kLongMatch = 16;
// A match this long ends the walk of a chain: a longer one saves at most
// an entry per this many bytes.
constexpr size_t kNiceMatch = 8192;
// The other parity is looked up only where the first gave no copy this
// long: past it, what it could add is a few bytes at the copy's start.
constexpr size_t kOtherParityBelow = 64;
// How far back a tie between two places is looked into.
constexpr size_t kTieReachBack = 16;
// How far a chain is walked at most where its first places gave a copy.
constexpr uint32_t kDeepSearchDepth = 512;
// Bounds the work of growing a match backwards through long equal runs.
constexpr size_t kLongestReachBack = 1 << 20;
constexpr uint64_t kProgressStep = 1 << 20;
constexpr uint32_t kProgressWords = 1 << 14;

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

uint64_t SeedAt(const uint8_t* bytes) {
    uint64_t seed;
    std::memcpy(&seed, bytes, kSeedLength);
    return seed;
}

// Every kIndexStep-th position of the original by the seed that starts
// there, newest first in each chain.
struct SeedIndex {
    std::vector<uint32_t> heads;  // position / kIndexStep + 1, 0 for none
    std::vector<uint32_t> next;   // the same, for the position before it in the chain
    int shift = 64;

    size_t Bucket(uint64_t seed) const { return static_cast<size_t>((seed * 0x9E3779B97F4A7C15ull) >> shift); }
};

SeedIndex IndexOriginal(const uint8_t* original, size_t size) {
    SeedIndex index;
    if (size < kSeedLength) return index;
    const size_t positions = (size - kSeedLength) / kIndexStep + 1;
    // Two to four positions a bucket: chains stay short, heads small.
    int bits = 10;
    while ((size_t{1} << bits) < positions / 4) ++bits;
    index.heads.assign(size_t{1} << bits, 0);
    index.next.resize(positions);
    index.shift = 64 - bits;
    for (size_t k = 0; k < positions; ++k) {
        uint32_t& head = index.heads[index.Bucket(SeedAt(original + k * kIndexStep))];
        index.next[k] = head;
        head = static_cast<uint32_t>(k + 1);
    }
    return index;
}

// The longest run of each byte value in the original. A run fills its seed's
// chain with places that each reach only to the run's end, so the chain's
// newest few cannot copy a long run; this can.
struct LongestRuns {
    uint32_t start[256] = {};
    uint32_t length[256] = {};
};

LongestRuns FindLongestRuns(const uint8_t* original, size_t size) {
    LongestRuns runs;
    for (size_t at = 0; at < size;) {
        size_t end = at + 1;
        while (end < size && original[end] == original[at]) ++end;
        if (end - at > runs.length[original[at]]) {
            runs.start[original[at]] = static_cast<uint32_t>(at);
            runs.length[original[at]] = static_cast<uint32_t>(end - at);
        }
        at = end;
    }
    return runs;
}

// corrected[start, end) equals the original from `offset` on.
struct Match {
    size_t start;
    size_t end;
    uint32_t offset;
};

// Walks the corrected file once, looking up the seed at each position not
// yet covered, and keeps the candidate that reaches furthest, grown back as
// far as it goes. Starts and ends both rise: a match that holds earlier
// ones whole replaces them.
std::vector<Match> FindMatches(const uint8_t* original, size_t originalSize, const uint8_t* corrected,
                               size_t correctedSize, uint32_t searchDepth,
                               const std::function<void(const char*, uint64_t, uint64_t)>& progress) {
    std::vector<Match> matches;
    const SeedIndex index = IndexOriginal(original, originalSize);
    if (index.heads.empty()) return matches;
    const LongestRuns runs = FindLongestRuns(original, originalSize);
    uint64_t reported = 0;
    size_t p = 0;
    while (p + kSeedLength <= correctedSize) {
        if (progress && p - reported >= kProgressStep) {
            progress("searching for copies", p, correctedSize);
            reported = p;
        }
        size_t bestLength = 0;
        size_t bestOffset = 0;
        constexpr size_t kUnknownBack = SIZE_MAX;
        size_t bestBack = kUnknownBack;  // back(bestOffset), once a tie needed it
        // Of two places that reach as far, the one that also reaches further
        // back saves the literal bytes before it.
        const auto back = [&](size_t offset) {
            size_t length = 0;
            while (length < kTieReachBack && length < std::min(p, offset) &&
                   corrected[p - 1 - length] == original[offset - 1 - length]) {
                ++length;
            }
            return length;
        };
        const auto consider = [&](size_t offset) {
            const size_t limit = std::min(correctedSize - p, originalSize - offset);
            const size_t length = CommonLength(corrected + p, original + offset, limit);
            if (length < bestLength || length == 0) return;
            if (length == bestLength) {
                if (bestBack == kUnknownBack) bestBack = back(bestOffset);
                const size_t reach = back(offset);
                if (reach <= bestBack) return;
                bestBack = reach;
            } else {
                bestBack = kUnknownBack;
            }
            bestLength = length;
            bestOffset = offset;
        };
        // Most edits overwrite bytes in place: the previous match's diagonal
        // goes on behind them.
        if (!matches.empty()) {
            const Match& last = matches.back();
            const size_t offset = last.offset + (p - last.start);
            if (offset < originalSize) consider(offset);
        }
        const uint64_t seed = SeedAt(corrected + p);
        const uint8_t value = corrected[p];
        if (seed == value * 0x0101010101010101ull && runs.length[value] >= kSeedLength) {
            // The run's last bytes, so that what follows it may match too.
            size_t length = kSeedLength;
            while (p + length < correctedSize && length < runs.length[value] && corrected[p + length] == value) ++length;
            consider(runs.start[value] + runs.length[value] - length);
        }
        const size_t enough = std::min(kNiceMatch, correctedSize - p);
        // Only every second place of the original is indexed, so the places
        // of the other parity are found through the seed one byte on.
        for (size_t shift = 0; shift < kIndexStep && p + shift + kSeedLength <= correctedSize &&
                               (shift == 0 || bestLength < kOtherParityBelow);
             ++shift) {
            uint32_t entry = index.heads[index.Bucket(SeedAt(corrected + p + shift))];
            for (uint32_t tries = 0; entry != 0 && bestLength < enough; ++tries) {
                // Past the first tries the chain is walked on only where
                // copies are to be had: in data built of a few repeated
                // pieces (game levels, video blocks) the newest places of a
                // seed share only the piece, and the place that goes on as
                // the corrected file does lies far back. Where nothing
                // matched, deeper finds nothing.
                if (tries >= searchDepth && (tries >= kDeepSearchDepth || bestLength < kShortestMatch)) break;
                const size_t at = size_t{entry - 1} * kIndexStep;
                if (at >= shift) consider(at - shift);
                entry = index.next[entry - 1];
            }
        }
        if (bestLength >= kSeedLength) {
            size_t start = p;
            size_t offset = bestOffset;
            const size_t floor = p - std::min(p, kLongestReachBack);
            while (start > floor && offset > 0 && corrected[start - 1] == original[offset - 1]) {
                --start;
                --offset;
            }
            const size_t end = p + bestLength;
            if (end - start >= kShortestMatch && (matches.empty() || end > matches.back().end)) {
                while (!matches.empty() && matches.back().start >= start) matches.pop_back();
                matches.push_back({start, end, static_cast<uint32_t>(offset)});
            }
            if (bestLength >= kLongMatch) {
                p = end;
                continue;
            }
        }
        ++p;
    }
    return matches;
}

struct Segment {
    bool literal;
    size_t start;
    size_t end;
    uint32_t offset;  // copies only
};

// The cheapest sequence of copies and literals under `costs`.
// Segments start and end only at the matches' starts and ends ("keys"): a
// copy from key k can end at any key up to the end of the latest match that
// covers k, and as those ends rise with k, the cheapest start for each key
// is kept in a queue that only ever drops from its front or its back.
std::vector<Segment> ChooseSegments(const std::vector<Match>& matches, size_t correctedSize,
                                    const SegmentCosts& costs) {
    std::vector<size_t> keys = {0, correctedSize};
    keys.reserve(2 * matches.size() + 2);
    for (const Match& m : matches) {
        keys.push_back(m.start);
        keys.push_back(m.end);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

    constexpr uint64_t kNever = UINT64_MAX / 2;
    constexpr uint32_t kNone = UINT32_MAX;
    const size_t count = keys.size();
    std::vector<uint32_t> cover(count, kNone);  // the latest match that holds the key's byte
    std::vector<uint64_t> endsCopy(count, kNever), endsLiteral(count, kNever);
    std::vector<uint32_t> copyFrom(count, 0);
    std::vector<bool> literalGoesOn(count, false);
    std::vector<uint32_t> queue;
    queue.reserve(count);
    size_t front = 0;
    size_t m = 0;
    endsCopy[0] = 0;
    const auto best = [&](size_t k) { return std::min(endsCopy[k], endsLiteral[k]); };
    const auto reach = [&](size_t k) { return matches[cover[k]].end; };
    for (size_t j = 0; j < count; ++j) {
        while (m < matches.size() && matches[m].start <= keys[j]) ++m;
        if (m > 0 && matches[m - 1].end > keys[j]) cover[j] = static_cast<uint32_t>(m - 1);
        if (j == 0) continue;
        const size_t k = j - 1;
        if (cover[k] != kNone) {
            while (queue.size() > front && best(queue.back()) >= best(k)) queue.pop_back();
            queue.push_back(static_cast<uint32_t>(k));
        }
        while (queue.size() > front && reach(queue[front]) < keys[j]) ++front;
        if (queue.size() > front) {
            endsCopy[j] = best(queue[front]) + costs.copyEntry;
            copyFrom[j] = queue[front];
        }
        literalGoesOn[j] = endsLiteral[k] <= endsCopy[k] + costs.literalEntry;
        endsLiteral[j] = (literalGoesOn[j] ? endsLiteral[k] : endsCopy[k] + costs.literalEntry) +
                         costs.LiteralBytes(keys[k], keys[j]);
    }

    std::vector<Segment> segments;
    size_t j = count - 1;
    bool literal = endsLiteral[j] < endsCopy[j];
    while (j > 0) {
        if (literal) {
            if (!segments.empty() && segments.back().literal) {
                segments.back().start = keys[j - 1];
            } else {
                segments.push_back({true, keys[j - 1], keys[j], 0});
            }
            literal = literalGoesOn[j];
            --j;
        } else {
            const size_t k = copyFrom[j];
            const Match& match = matches[cover[k]];
            segments.push_back({false, keys[k], keys[j], static_cast<uint32_t>(match.offset + (keys[k] - match.start))});
            literal = endsLiteral[k] < endsCopy[k];
            j = k;
        }
    }
    std::reverse(segments.begin(), segments.end());
    return segments;
}

// Between two copies a gap of a few literal bytes costs its entry and its
// bytes, more than a copy's entry from kBridgedGap bytes on (a changed word
// in a text). Such gaps are shorter than a seed, so the index cannot find
// them: the literal gaps of a first choice are looked for in one scan of the
// original instead, each by its first 4 bytes, and a gap the original holds
// gets a match of its own. No other match starts inside a gap the choice
// left literal, nor ends past it from before it, so the matches' starts
// and ends still rise.
constexpr size_t kBridgedGap = 5;
constexpr size_t kLongestBridgedGap = 12;
constexpr int kGapFilterBits = 20;

std::vector<Match> BridgeGaps(const uint8_t* original, size_t originalSize, const uint8_t* corrected,
                              const std::vector<Match>& matches, const std::vector<Segment>& chosen) {
    struct Gap {
        uint32_t key;  // its first 4 bytes
        size_t start;
        size_t end;
        uint32_t source;
        bool found;
    };
    std::vector<Gap> gaps;
    for (size_t k = 1; k + 1 < chosen.size(); ++k) {
        const Segment& s = chosen[k];
        const size_t length = s.end - s.start;
        if (!s.literal || chosen[k - 1].literal || chosen[k + 1].literal || length < kBridgedGap ||
            length > kLongestBridgedGap) {
            continue;
        }
        uint32_t key;
        std::memcpy(&key, corrected + s.start, 4);
        gaps.push_back({key, s.start, s.end, 0, false});
    }
    if (gaps.empty()) return matches;
    std::sort(gaps.begin(), gaps.end(), [](const Gap& x, const Gap& y) { return x.key < y.key; });
    const auto hash = [](uint32_t key) { return (key * 0x9E3779B1u) >> (32 - kGapFilterBits); };
    std::vector<bool> filter(size_t{1} << kGapFilterBits, false);
    for (const Gap& g : gaps) filter[hash(g.key)] = true;
    size_t left = gaps.size();
    for (size_t o = 0; o + 4 <= originalSize && left > 0; ++o) {
        uint32_t key;
        std::memcpy(&key, original + o, 4);
        if (!filter[hash(key)]) continue;
        auto g = std::lower_bound(gaps.begin(), gaps.end(), key, [](const Gap& x, uint32_t k) { return x.key < k; });
        for (; g != gaps.end() && g->key == key; ++g) {
            const size_t length = g->end - g->start;
            if (g->found || o + length > originalSize || std::memcmp(original + o, corrected + g->start, length) != 0) {
                continue;
            }
            g->source = static_cast<uint32_t>(o);
            g->found = true;
            --left;
        }
    }
    std::sort(gaps.begin(), gaps.end(), [](const Gap& x, const Gap& y) { return x.start < y.start; });
    std::vector<Match> bridged;
    bridged.reserve(matches.size() + gaps.size());
    size_t m = 0;
    for (const Gap& g : gaps) {
        while (m < matches.size() && matches[m].start < g.start) bridged.push_back(matches[m++]);
        const bool rises = (bridged.empty() || bridged.back().end < g.end) && (m == matches.size() || matches[m].start > g.start);
        if (g.found && rises) bridged.push_back({g.start, g.end, g.source});
    }
    bridged.insert(bridged.end(), matches.begin() + static_cast<ptrdiff_t>(m), matches.end());
    return bridged;
}

// The table only: the literal bytes go straight from the corrected file
// into the patch, which is allocated once at its full size.
struct PatchWriter {
    std::vector<uint32_t> table;
    size_t literalBytes = 0;
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
            literalBytes += part;
            bytes += part;
            length -= part;
        }
    }
};

// An entry costs its words, packed or not: a checksum and an offset barely
// shrink, and each entry splits the literal data that the archiver would
// otherwise compress as one stream.
constexpr uint32_t kCopyEntry = 12 * kCostUnit;
constexpr uint32_t kLiteralEntry = 8 * kCostUnit;
// Literal bytes are priced by the variety of the bytes around them: the
// order-0 entropy of this many bytes about each block.
constexpr size_t kEntropyWindow = 4096;

// Bytes one literal byte comes to inside an archive, from the entropy of its
// surroundings in bits: share * (bits / 8)^1.5. Archivers find the repeats
// that order-0 entropy does not see (between the frames of a video, the
// routines of a program), so even picture data near 8 bits comes to under
// half a byte at the margin, and code near 6 bits to under a third, with
// the share 0.45 fitted to xz -9e on the benchmark's cutscene and DLL pairs.
uint32_t PackedRate(double bits, double share) {
    const double rate = share * std::pow(std::clamp(bits / 8, 0.0, 1.0), 1.5);
    return std::max<uint32_t>(1, static_cast<uint32_t>(rate * kCostUnit));
}

// A stretch [start, end) of the corrected file.
struct Stretch {
    size_t start;
    size_t end;
};

uint32_t CountEntries(const std::vector<uint8_t>& patch) {
    SegmentCursor cursor = {patch.data() + kAviPatchHeaderSize, DecodeAviPatchHeader(patch.data()).wordCount};
    PatchSegment segment;
    uint32_t entries = 0;
    while (NextSegment(cursor, &segment) == kSegmentRead) ++entries;
    return entries;
}

// The parts of `segments` inside the sample's stretches.
std::vector<Segment> SampleOf(const std::vector<Segment>& segments, const std::vector<Stretch>& sample) {
    std::vector<Segment> parts;
    size_t s = 0;
    for (const Segment& segment : segments) {
        while (s < sample.size() && sample[s].end <= segment.start) ++s;
        for (size_t t = s; t < sample.size() && sample[t].start < segment.end; ++t) {
            const size_t start = std::max(segment.start, sample[t].start);
            const size_t end = std::min(segment.end, sample[t].end);
            parts.push_back({segment.literal, start, end,
                             segment.literal ? 0 : static_cast<uint32_t>(segment.offset + (start - segment.start))});
        }
    }
    return parts;
}

bool SameSegments(const std::vector<Segment>& a, const std::vector<Segment>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const Segment& x, const Segment& y) {
               return x.literal == y.literal && x.start == y.start && x.end == y.end && x.offset == y.offset;
           });
}

// Packing whole candidates at xz -9e would cost many times the search, so
// beyond kWholePacking bytes of patch each is packed over the same sample:
// stretches of kSampleStretch bytes centred at even steps through the
// first candidate's patch bytes (its entries and literal bytes), so that
// they fall where the patches differ, not where all copy alike. `sampled`
// receives the first candidate's patch bytes inside the sample, `whole` all
// of them.
constexpr uint64_t kWholePacking = 256 << 10;
constexpr size_t kSampleStretch = 32 << 10;
constexpr uint64_t kSampleShare = 64;
// 1/50: 2 %.
constexpr uint64_t kSampleMargin = 50;

uint64_t PatchBytes(const Segment& segment) {
    return segment.literal ? 8 + (segment.end - segment.start) : 12;
}

std::vector<Stretch> SampleStretches(const std::vector<Segment>& segments, size_t correctedSize, uint64_t* sampled,
                                     uint64_t* whole) {
    *whole = 0;
    for (const Segment& segment : segments) *whole += PatchBytes(segment);
    if (*whole <= kWholePacking) {
        *sampled = *whole;
        return {{0, correctedSize}};
    }
    const uint64_t count = std::max<uint64_t>(4, *whole / kSampleShare / kSampleStretch);
    std::vector<Stretch> sample;
    uint64_t through = 0;  // patch bytes before the segment
    uint64_t next = 0;     // the next centre, as the number of steps taken
    for (const Segment& segment : segments) {
        const uint64_t bytes = PatchBytes(segment);
        while (next < count && (2 * next + 1) * *whole / (2 * count) < through + bytes) {
            const uint64_t into = (2 * next + 1) * *whole / (2 * count) - through;
            const size_t centre = segment.literal ? segment.start + std::min<uint64_t>(into, segment.end - segment.start)
                                                  : segment.start;
            const size_t start = centre - std::min(centre, kSampleStretch / 2);
            const size_t end = std::min(correctedSize, start + kSampleStretch);
            if (!sample.empty() && start <= sample.back().end) {
                sample.back().end = std::max(sample.back().end, end);
            } else {
                sample.push_back({start, end});
            }
            ++next;
        }
        through += bytes;
    }
    *sampled = 0;
    for (const Segment& segment : SampleOf(segments, sample)) *sampled += PatchBytes(segment);
    return sample;
}

std::string ShareText(double share) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", share);
    return text;
}

// The patch file of `segments`, each cut to at most `longest` bytes.
bool WritePatch(const uint8_t* original, size_t originalSize, const uint8_t* corrected,
                const std::vector<Segment>& segments, uint32_t bufferSize, uint32_t longest, std::vector<uint8_t>* patch,
                std::string* error) {
    PatchWriter writer;
    writer.longest = longest;
    for (const Segment& segment : segments) {
        if (segment.literal) {
            writer.Literal(corrected + segment.start, segment.end - segment.start);
        } else {
            writer.Copy(original, segment.offset, segment.end - segment.start);
        }
    }
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
    header.bufferSize = bufferSize;
    header.originalSize = static_cast<uint32_t>(originalSize);
    header.wordCount = static_cast<uint32_t>(writer.table.size());
    header.tableSum = 0;
    for (uint32_t word : writer.table) header.tableSum += word;

    patch->assign(kAviPatchHeaderSize + 4 * writer.table.size() + writer.literalBytes, 0);
    uint8_t* out = patch->data();
    EncodeAviPatchHeader(header, out);
    out += kAviPatchHeaderSize;
    for (uint32_t word : writer.table) {
        StoreLittle32(out, word);
        out += 4;
    }
    for (const Segment& segment : segments) {
        if (!segment.literal) continue;
        std::memcpy(out, corrected + segment.start, segment.end - segment.start);
        out += segment.end - segment.start;
    }
    return true;
}

struct HeaderProblem {
    HeaderFault fault;
    const char* text;
};
const HeaderProblem kHeaderProblems[] = {
    {kWrongMagic, "the magic is not Q8R_AviPatchData"},
    {kBufferTooSmall, "bufferSize is below 256"},
    {kTooFewWords, "wordCount is below 2"},
    {kTooManyWords, "wordCount is above 1073741823"},
};

}  // namespace

bool MakeAviPatch(const uint8_t* original, size_t originalSize, const uint8_t* corrected, size_t correctedSize,
                  const PatchMakeOptions& options, std::vector<uint8_t>* patch, std::string* error,
                  std::vector<PatchCandidate>* weighed) {
    if (originalSize > kLargestOriginal) {
        *error = "the original is larger than 2147483647 bytes, which the format cannot address";
        return false;
    }
    if (options.bufferSize < kSmallestStatedBuffer) {
        *error = "the buffer size must be at least 256";
        return false;
    }
    if (options.bufferSize > kLargestPatchBuffer) {
        *error = "the buffer size may be at most " + std::to_string(kLargestPatchBuffer) +
                 ", which a 32-bit patcher can still allocate";
        return false;
    }
    const uint32_t allowed = std::min<uint32_t>(EffectivePatchBuffer(options.bufferSize) - 8, ~kLiteralFlag);
    if (options.maxSegment > allowed) {
        *error = "segments may be at most " + std::to_string(allowed) + " bytes long with this buffer size";
        return false;
    }
    const uint32_t longest = options.maxSegment ? options.maxSegment : allowed;
    std::vector<Match> matches =
        FindMatches(original, originalSize, corrected, correctedSize, options.searchDepth, options.progress);
    matches = BridgeGaps(original, originalSize, corrected, matches,
                         ChooseSegments(matches, correctedSize, EstimateSegmentCosts(corrected, correctedSize, true)));
    // Candidates from the one match set: the estimate's own prices first,
    // so that a tie keeps the patch of fewer segments, the raw prices last.
    struct Candidate {
        bool raw;
        double share;
        std::vector<Segment> segments;
        uint64_t packed;
    };
    std::vector<Candidate> candidates;
    if (!options.raw) {
        for (const double share : kLiteralShares) {
            candidates.push_back({false, share, {}, 0});
            if (!options.packedSize) break;
        }
    }
    if (options.raw || options.packedSize) candidates.push_back({true, 0, {}, 0});
    size_t chosen = 0;
    bool bySample = false;
    if (candidates.size() > 1) {
        std::vector<Stretch> sample;
        uint64_t sampled = 0, whole = 0;
        std::vector<uint8_t> bytes;
        for (size_t k = 0; k < candidates.size(); ++k) {
            Candidate& c = candidates[k];
            if (options.progress) options.progress("packing candidates", k, candidates.size());
            c.segments = ChooseSegments(matches, correctedSize, EstimateSegmentCosts(corrected, correctedSize, c.raw, c.share));
            if (k == 0) {
                sample = SampleStretches(c.segments, correctedSize, &sampled, &whole);
                bySample = sample.size() != 1 || sample[0].start != 0 || sample[0].end != correctedSize;
            }
            // Two price lists often choose alike: that patch is weighed once.
            if (k > 0 && SameSegments(c.segments, candidates[k - 1].segments)) {
                c.packed = candidates[k - 1].packed;
                continue;
            }
            if (!WritePatch(original, originalSize, corrected, SampleOf(c.segments, sample), options.bufferSize, longest,
                            &bytes, error)) {
                return false;
            }
            // Scaled to the whole patch as the first candidate's sample is.
            c.packed = options.packedSize(bytes.data(), bytes.size()) * whole / std::max<uint64_t>(sampled, 1);
            // A sample leaves out repeats between its stretches, which favour
            // the patches of more literal bytes: a candidate must win by a
            // margin to displace the estimate's own.
            const uint64_t margin = bySample ? candidates[chosen].packed / kSampleMargin : 0;
            if (c.packed + margin < candidates[chosen].packed) chosen = k;
        }
    } else {
        candidates[0].segments = ChooseSegments(
            matches, correctedSize, EstimateSegmentCosts(corrected, correctedSize, candidates[0].raw, candidates[0].share));
    }
    if (!WritePatch(original, originalSize, corrected, candidates[chosen].segments, options.bufferSize, longest, patch,
                    error)) {
        return false;
    }
    if (weighed) {
        std::vector<uint8_t> bytes;
        for (size_t k = 0; k < candidates.size(); ++k) {
            const Candidate& c = candidates[k];
            if (k != chosen && !WritePatch(original, originalSize, corrected, c.segments, options.bufferSize, longest,
                                           &bytes, error)) {
                return false;
            }
            const std::vector<uint8_t>& made = k == chosen ? *patch : bytes;
            weighed->push_back({c.raw ? "raw" : "archive, literal share " + ShareText(c.share), made.size(), c.packed,
                                CountEntries(made), k == chosen, bySample});
        }
    }
    return true;
}

SegmentCosts EstimateSegmentCosts(const uint8_t* corrected, size_t correctedSize, bool raw, double literalShare) {
    SegmentCosts costs;
    costs.copyEntry = kCopyEntry;
    costs.literalEntry = kLiteralEntry;
    const size_t blocks = (correctedSize + kCostBlock - 1) / kCostBlock;
    costs.rate.assign(blocks, kCostUnit);
    if (!raw) {
        // One window slides over the file; n log n of each count is looked up.
        std::vector<double> weight(kEntropyWindow + 1, 0);
        for (size_t n = 1; n <= kEntropyWindow; ++n) weight[n] = n * std::log2(double(n));
        uint32_t counts[256] = {};
        size_t from = 0, to = 0;
        double sum = 0;  // of n log n over the counts
        const auto move = [&](size_t at, int by) {
            uint32_t& n = counts[corrected[at]];
            sum -= weight[n];
            n += by;
            sum += weight[n];
        };
        for (size_t b = 0; b < blocks; ++b) {
            const size_t centre = b * kCostBlock + kCostBlock / 2;
            const size_t wantFrom = centre - std::min(centre, kEntropyWindow / 2);
            const size_t wantTo = std::min(correctedSize, wantFrom + kEntropyWindow);
            while (from < std::min(wantFrom, to)) move(from++, -1);
            while (to < wantTo) move(to++, 1);
            while (from < wantFrom) move(from++, -1);
            const double n = double(to - from);
            costs.rate[b] = PackedRate(std::log2(n) - sum / n, literalShare);
        }
    }
    costs.through.assign(blocks + 1, 0);
    for (size_t b = 0; b < blocks; ++b) {
        const size_t length = std::min(kCostBlock, correctedSize - b * kCostBlock);
        costs.through[b + 1] = costs.through[b] + length * uint64_t{costs.rate[b]};
    }
    return costs;
}

PatchDescription DescribeAviPatch(const uint8_t* patch, size_t patchSize, const uint8_t* original, size_t originalSize,
                                  const std::function<void(uint64_t, uint64_t)>& progress) {
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
    const uint32_t faults = AviPatchHeaderFaults(h);
    for (const HeaderProblem& known : kHeaderProblems) {
        if (faults & known.fault) problem(known.text);
    }
    if (!d.problems.empty()) return d;

    const uint64_t tableEnd = kAviPatchHeaderSize + uint64_t{h.wordCount} * 4;
    if (tableEnd > patchSize) {
        problem("the segment table is cut short");
        return d;
    }
    const uint8_t* table = patch + kAviPatchHeaderSize;
    const uint32_t sum = SegmentChecksum(table, size_t{h.wordCount} * 4);
    if (sum != h.tableSum) problem("tableSum does not match the table");
    if (h.originalSize > kLargestOriginal) problem("originalSize is at or above 2^31");
    if (original && originalSize != h.originalSize) {
        problem("the original is " + std::to_string(originalSize) + " bytes, the patch is for " +
                std::to_string(h.originalSize));
    }
    const bool originalFits = original && originalSize == h.originalSize;

    uint64_t literalAt = tableEnd;
    SegmentCursor cursor = {table, h.wordCount};
    PatchSegment segment;
    uint32_t reported = 0;
    for (;;) {
        const uint32_t at = cursor.nextWord;
        if (progress && at - reported >= kProgressWords) {
            progress(at, h.wordCount);
            reported = at;
        }
        const SegmentStep step = NextSegment(cursor, &segment);
        if (step == kTableEnd) break;
        const std::string where = "entry at word " + std::to_string(at);
        if (step == kEntryPastTable) {
            problem(where + " runs past the end of the table");
            break;
        }
        const uint32_t length = segment.length;
        d.longestSegment = std::max(d.longestSegment, length);
        if (SegmentTooLong(segment, h.bufferSize)) problem(where + " is longer than the buffer size less 8");
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
            if (segment.offset > kLargestOriginal) {
                problem(where + " has an offset at or above 2^31");
            } else if (uint64_t{segment.offset} + length > h.originalSize) {
                problem(where + " copies past the end of the original");
            } else if (originalFits && SegmentChecksum(original + segment.offset, length) != segment.checksum) {
                problem(where + " does not match the original");
            }
        }
    }
    return d;
}
