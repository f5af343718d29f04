// The smallest patch the format allows for a pair, to measure the tool's
// against: an exact cheapest-path choice over every match the original
// holds, under the raw price list (the patch's own bytes) and under the
// tool's packed price list (EstimateSegmentCosts).
//
//   patch_optimum ORIGINAL CORRECTED [OURS OURS_RAW [OUT_DIR]]
//
// Prints both optima and, given the tool's patches, their prices under the
// same lists; OUT_DIR receives the two optimal patches (optimum.upd priced
// for the archive, optimum-raw.upd), so that they can be packed and applied.
//
// An entry's price does not depend on where its copy comes from, so all the
// choice needs is, at each position of the corrected file, the longest match
// anywhere in the original: every shorter copy from there is a prefix of it.
// Those lengths come from one suffix array over corrected + original, whose
// original suffixes end with the text, so a match never runs past the
// original's end; the corrected side is cut at its own end.
#include <divsufsort.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "avi_patch_format.h"
#include "avi_patch_maker.h"

namespace {

std::vector<uint8_t> ReadWhole(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "patch_optimum: cannot read " << path << "\n";
        std::exit(1);
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// For each position of the corrected file, the longest match in the original
// and where it starts.
struct LongestMatches {
    std::vector<uint32_t> length;
    std::vector<uint32_t> source;
};

LongestMatches FindLongestMatches(const std::vector<uint8_t>& original, const std::vector<uint8_t>& corrected) {
    const size_t nc = corrected.size(), total = corrected.size() + original.size();
    if (total >= (size_t{1} << 31)) {
        std::cerr << "patch_optimum: the pair is too large for a 32-bit suffix array\n";
        std::exit(1);
    }
    std::vector<uint8_t> text(corrected);
    text.insert(text.end(), original.begin(), original.end());
    const auto n = static_cast<saidx_t>(total);
    std::vector<saidx_t> sa(total);
    if (total > 0 && divsufsort(text.data(), sa.data(), n) != 0) {
        std::cerr << "patch_optimum: divsufsort failed\n";
        std::exit(1);
    }
    // Common prefix with the suffix before it in the array, by text position
    // (the permuted array, filled in text order so each step starts where
    // the last left off).
    std::vector<saidx_t> plcp(total);
    if (total > 0) plcp[sa[0]] = -1;
    for (size_t k = 1; k < total; ++k) plcp[sa[k]] = sa[k - 1];
    saidx_t l = 0;
    for (saidx_t i = 0; i < n; ++i) {
        const saidx_t before = plcp[i];
        if (before < 0) {
            plcp[i] = 0;
            l = 0;
            continue;
        }
        while (i + l < n && before + l < n && text[i + l] == text[before + l]) ++l;
        plcp[i] = l;
        if (l > 0) --l;
    }

    LongestMatches best;
    best.length.assign(nc, 0);
    best.source.assign(nc, 0);
    // The nearest original suffix on either side holds the longest match.
    const auto pass = [&](bool forward) {
        bool seen = false;
        uint32_t run = 0, from = 0;
        for (size_t step = 0; step < total; ++step) {
            const size_t k = forward ? step : total - 1 - step;
            if (step > 0) run = std::min<uint32_t>(run, plcp[sa[forward ? k : k + 1]]);
            const auto at = static_cast<size_t>(sa[k]);
            if (at >= nc) {
                seen = true;
                run = UINT32_MAX;
                from = static_cast<uint32_t>(at - nc);
            } else if (seen && run > best.length[at]) {
                best.length[at] = run;
                best.source[at] = from;
            }
        }
    };
    pass(true);
    pass(false);
    for (size_t q = 0; q < nc; ++q) best.length[q] = std::min<uint32_t>(best.length[q], nc - q);
    return best;
}

struct Choice {
    bool literal;
    uint32_t from;  // where the entry starts in the corrected file
};

// The cheapest table under `costs`, entries at most `longest` bytes long, in
// the cost's units; `choices` tells how each position was reached last.
uint64_t CheapestPatch(const LongestMatches& matches, size_t nc, const SegmentCosts& costs, uint32_t longest,
                       std::vector<Choice>* choices) {
    if (nc == 0) return costs.literalEntry;  // the one empty literal entry a table needs
    std::vector<int64_t> cost(nc + 1);
    choices->assign(nc + 1, {});
    // Candidate starts, cheapest at the front: for literal entries by cost
    // less the literal bytes before the start, for copies by cost. A copy
    // from i reaches i + length[i], which never falls as i rises (a match at
    // i holds one at i + 1 a byte shorter), so both windows only slide.
    std::deque<uint32_t> literalStarts, copyStarts;
    const auto literalKey = [&](uint32_t i) { return cost[i] - static_cast<int64_t>(costs.Before(i)); };
    cost[0] = 0;
    for (size_t j = 1; j <= nc; ++j) {
        const uint32_t last = static_cast<uint32_t>(j - 1);
        while (!literalStarts.empty() && literalKey(literalStarts.back()) >= literalKey(last)) literalStarts.pop_back();
        literalStarts.push_back(last);
        if (matches.length[last] > 0) {
            while (!copyStarts.empty() && cost[copyStarts.back()] >= cost[last]) copyStarts.pop_back();
            copyStarts.push_back(last);
        }
        const size_t earliest = j > longest ? j - longest : 0;
        while (literalStarts.front() < earliest) literalStarts.pop_front();
        while (!copyStarts.empty() &&
               (copyStarts.front() < earliest || copyStarts.front() + size_t{matches.length[copyStarts.front()]} < j))
            copyStarts.pop_front();
        const uint32_t i = literalStarts.front();
        cost[j] = literalKey(i) + costs.literalEntry + static_cast<int64_t>(costs.Before(j));
        (*choices)[j] = {true, i};
        if (!copyStarts.empty() && cost[copyStarts.front()] + costs.copyEntry < cost[j]) {
            cost[j] = cost[copyStarts.front()] + costs.copyEntry;
            (*choices)[j] = {false, copyStarts.front()};
        }
    }
    return static_cast<uint64_t>(cost[nc]);
}

std::vector<uint8_t> WritePatch(const std::vector<uint8_t>& original, const std::vector<uint8_t>& corrected,
                                const LongestMatches& matches, const std::vector<Choice>& choices) {
    std::vector<Choice> entries;  // with `from` as the entry's end
    for (size_t j = corrected.size(); j > 0; j = choices[j].from) entries.push_back({choices[j].literal, uint32_t(j)});
    std::reverse(entries.begin(), entries.end());
    std::vector<uint32_t> table;
    std::vector<uint8_t> literal;
    size_t at = 0;
    for (const Choice& e : entries) {
        const uint32_t length = e.from - static_cast<uint32_t>(at);
        if (e.literal) {
            table.push_back(kLiteralFlag | length);
            table.push_back(SegmentChecksum(corrected.data() + at, length));
            literal.insert(literal.end(), corrected.begin() + at, corrected.begin() + at + length);
        } else {
            const uint32_t offset = matches.source[at];
            table.push_back(length);
            table.push_back(SegmentChecksum(original.data() + offset, length));
            table.push_back(offset);
        }
        at = e.from;
    }
    if (table.empty()) table = {kLiteralFlag, 0};
    AviPatchHeader header;
    std::memcpy(header.magic, kAviPatchMagic, sizeof header.magic);
    header.bufferSize = kMinimumPatchBuffer;
    header.originalSize = static_cast<uint32_t>(original.size());
    header.wordCount = static_cast<uint32_t>(table.size());
    header.tableSum = 0;
    for (uint32_t word : table) header.tableSum += word;
    std::vector<uint8_t> patch(kAviPatchHeaderSize + 4 * table.size());
    EncodeAviPatchHeader(header, patch.data());
    for (size_t w = 0; w < table.size(); ++w) StoreLittle32(patch.data() + kAviPatchHeaderSize + 4 * w, table[w]);
    patch.insert(patch.end(), literal.begin(), literal.end());
    return patch;
}

// A made patch priced entry by entry under `costs`, in the cost's units.
uint64_t PriceOf(const std::vector<uint8_t>& patch, const SegmentCosts& costs) {
    const AviPatchHeader header = DecodeAviPatchHeader(patch.data());
    SegmentCursor cursor = {patch.data() + kAviPatchHeaderSize, header.wordCount};
    PatchSegment segment;
    uint64_t price = 0;
    size_t at = 0;
    while (NextSegment(cursor, &segment) == kSegmentRead) {
        price += segment.literal ? costs.literalEntry + costs.LiteralBytes(at, at + segment.length) : costs.copyEntry;
        at += segment.length;
    }
    return price;
}

double Bytes(uint64_t units) { return double(units) / kCostUnit + kAviPatchHeaderSize; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5 && argc != 6) {
        std::cerr << "usage: patch_optimum ORIGINAL CORRECTED [OURS OURS_RAW [OUT_DIR]]\n";
        return 2;
    }
    const std::vector<uint8_t> original = ReadWhole(argv[1]), corrected = ReadWhole(argv[2]);
    const LongestMatches matches = FindLongestMatches(original, corrected);
    const uint32_t longest = EffectivePatchBuffer(kMinimumPatchBuffer) - 8;
    for (const bool raw : {false, true}) {
        const SegmentCosts costs = EstimateSegmentCosts(corrected.data(), corrected.size(), raw);
        std::vector<Choice> choices;
        const uint64_t optimum = CheapestPatch(matches, corrected.size(), costs, longest, &choices);
        const char* name = raw ? "raw" : "packed";
        std::printf("%s optimum: %.0f bytes", name, Bytes(optimum));
        if (argc >= 5) {
            const uint64_t ours = PriceOf(ReadWhole(argv[raw ? 4 : 3]), costs);
            std::printf(", ours %.0f, ours/optimum %.4f", Bytes(ours), Bytes(ours) / Bytes(optimum));
        }
        std::printf("\n");
        if (argc == 6) {
            const std::vector<uint8_t> patch = WritePatch(original, corrected, matches, choices);
            const std::string path = std::string(argv[5]) + (raw ? "/optimum-raw.upd" : "/optimum.upd");
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(patch.data()), patch.size());
        }
    }
    return 0;
}
