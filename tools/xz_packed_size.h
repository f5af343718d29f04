// What a file comes to alone in an xz archive, as `xz -9e` packs it: the
// bytes players download for a patch shipped that way.
#pragma once

#include <cstddef>
#include <cstdint>

// False where the tool was built without liblzma; a make then keeps the
// patch its own estimate calls cheapest.
bool XzPackingAvailable();
uint64_t XzPackedSize(const uint8_t* bytes, size_t size);
