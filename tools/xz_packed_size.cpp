#include "xz_packed_size.h"

#include <lzma.h>

#include <algorithm>
#include <new>

bool XzPackingAvailable() {
    return true;
}

// The stream goes through a small buffer and is only counted, so that a
// large patch is never held twice.
uint64_t XzPackedSize(const uint8_t* bytes, size_t size) {
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME);
    // A dictionary larger than the file finds nothing more and would cost
    // 10 times its size in memory.
    options.dict_size = std::clamp<uint32_t>(static_cast<uint32_t>(std::min<size_t>(size, UINT32_MAX)),
                                             LZMA_DICT_SIZE_MIN, options.dict_size);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_encoder(&stream, filters, LZMA_CHECK_CRC64) != LZMA_OK) throw std::bad_alloc();
    uint8_t out[1 << 16];
    stream.next_in = bytes;
    stream.avail_in = size;
    uint64_t packed = 0;
    lzma_ret result = LZMA_OK;
    while (result == LZMA_OK) {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        result = lzma_code(&stream, LZMA_FINISH);
        packed += sizeof out - stream.avail_out;
    }
    lzma_end(&stream);
    if (result != LZMA_STREAM_END) throw std::bad_alloc();
    return packed;
}
