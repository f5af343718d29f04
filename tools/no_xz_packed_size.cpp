#include "xz_packed_size.h"

bool XzPackingAvailable() {
    return false;
}

uint64_t XzPackedSize(const uint8_t*, size_t size) {
    return size;
}
