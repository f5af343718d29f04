// Making and inspecting patch data files, for the maintainers who ship
// corrected cutscene videos. The patcher itself only applies them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "avi_patch.h"

// The largest working buffer a patch may ask for. The patcher is a 32-bit
// program: its 2 GiB of address space is cut up by the DLLs loaded into it,
// and one free block much larger than this is not to be counted on.
constexpr uint32_t kLargestPatchBuffer = 256u << 20;

struct PatchMakeOptions {
    // Written into the header as it stands; the engine uses at least 1 MiB.
    uint32_t bufferSize = kMinimumPatchBuffer;
    // Longest segment to write; 0: as long as the buffer allows.
    uint32_t maxSegment = 0;
    // How many places of the original that start with the same 8 bytes are
    // tried at each position; more finds better copies in repetitive files.
    uint32_t searchDepth = 32;
    // Price segments by the patch's own bytes instead of what they come to
    // inside a compressed archive.
    bool raw = false;
    // The bytes a patch comes to as players download it. Given, a make that
    // is not raw weighs a candidate patch for each price list (raw, and the
    // archive's at each of kLiteralShares) and keeps the one that packs
    // smallest; not given, it keeps the cheapest under the archive's prices at
    // the first share.
    std::function<uint64_t(const uint8_t* bytes, size_t size)> packedSize;
    // Called now and then with what is being done ("searching for copies",
    // "packing candidates") and how far it got.
    std::function<void(const char* what, uint64_t done, uint64_t total)> progress;
};

// One patch a make weighed, for --verbose.
struct PatchCandidate {
    std::string prices;   // "raw", or the literal share of the archive's prices
    uint64_t bytes = 0;
    uint64_t packed = 0;  // as packedSize measured it
    uint32_t segments = 0;
    bool chosen = false;
    bool sampled = false;  // packed over a sample, scaled to the whole
};

// What each part of a patch costs, in 1/kCostUnit of a byte: as the patch
// stands (raw), or after the archive's compression (packed), where a copy
// entry's checksum and offset barely shrink and literal bytes shrink as far
// as their own variety allows.
constexpr uint32_t kCostUnit = 256;
// Literal bytes are priced per block of the corrected file.
constexpr size_t kCostBlock = 256;
// What an archiver leaves of a literal byte of full variety, by price list
// (the first is the estimate's own). The share that fits a pair best varies
// with its kind (0.45 for the MJPEG and DLL pairs of the benchmark, near 1
// for others), so a make weighs several.
constexpr double kLiteralShares[] = {0.45, 0.7, 1.0};

struct SegmentCosts {
    uint32_t copyEntry = 0;
    uint32_t literalEntry = 0;
    std::vector<uint32_t> rate;     // of one literal byte, per block
    std::vector<uint64_t> through;  // of all literal bytes before each block

    // Of corrected[from, to) sent as literal bytes.
    uint64_t LiteralBytes(size_t from, size_t to) const { return Before(to) - Before(from); }
    uint64_t Before(size_t at) const {
        const size_t block = at / kCostBlock;
        return block < rate.size() ? through[block] + (at % kCostBlock) * uint64_t{rate[block]} : through.back();
    }
};

SegmentCosts EstimateSegmentCosts(const uint8_t* corrected, size_t correctedSize, bool raw,
                                  double literalShare = kLiteralShares[0]);

// Builds a patch that turns `original` into `corrected`: copies of the runs
// the two share, wherever they moved to, chosen so that the patch costs
// least under EstimateSegmentCosts, or, with options.packedSize, packs
// smallest of the candidates. `weighed`, if given, receives every candidate.
// False with a reason when the pair or the options break the format's
// limits; std::bad_alloc when memory runs out.
bool MakeAviPatch(const uint8_t* original, size_t originalSize, const uint8_t* corrected, size_t correctedSize,
                  const PatchMakeOptions& options, std::vector<uint8_t>* patch, std::string* error,
                  std::vector<PatchCandidate>* weighed = nullptr);

struct PatchDescription {
    bool headerComplete = false;
    AviPatchHeader header{};
    uint64_t fileSize = 0;
    uint32_t copySegments = 0;
    uint32_t literalSegments = 0;
    uint64_t copyBytes = 0;
    uint64_t literalBytes = 0;
    uint32_t longestSegment = 0;
    bool checkedOriginal = false;
    // Every way the file breaks the format's limits or, when an original was
    // given, does not fit it. Empty: the patch applies cleanly.
    std::vector<std::string> problems;
};

// `original` may be null: then only the file itself is checked. `progress`
// is called now and then with the table words checked so far.
PatchDescription DescribeAviPatch(const uint8_t* patch, size_t patchSize, const uint8_t* original, size_t originalSize,
                                  const std::function<void(uint64_t done, uint64_t total)>& progress = {});

// The command line of q8r-avipatch; returns the exit code. Its commands
// show their progress on `err` only when that is a terminal.
int RunAviPatchTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    bool errIsTerminal = false);
