// SegmentChecksum against a plain read of the same bytes (memchr for a byte
// that is not there), which is as fast as this machine reads memory.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "avi_patch.h"

namespace {

std::vector<uint8_t> Bytes(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<uint8_t>(k % 251);
    return bytes;
}

void BM_SegmentChecksum(benchmark::State& state) {
    const std::vector<uint8_t> bytes = Bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(SegmentChecksum(bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_MemchrScan(benchmark::State& state) {
    const std::vector<uint8_t> bytes = Bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(std::memchr(bytes.data(), 255, bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// 4 KiB and 1 MiB stay in the caches, as a segment just read does; 64 MiB
// goes to memory.
BENCHMARK(BM_SegmentChecksum)->Arg(4 << 10)->Arg(1 << 20)->Arg(64 << 20);
BENCHMARK(BM_MemchrScan)->Arg(4 << 10)->Arg(1 << 20)->Arg(64 << 20);

}  // namespace
