// The patch engine fed any patch data file against a small original. It
// must never read or write out of bounds, must return a code from 0 to 9,
// and must leave the video either as it was or, on success, corrected with
// the original kept in the backup.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "avi_patch.h"
#include "platform.h"
#include "support/memory_file_access.h"

namespace {

void Check(bool holds) {
    if (!holds) std::abort();
}

// Headers may ask for buffers of gigabytes; the fuzzer's memory is not the
// point, so large requests fail as they would on a small machine.
void* SmallAllocations(size_t size) {
    return size > (16u << 20) ? nullptr : std::malloc(size);
}

const std::string kOriginal = "RIFF....AVI LIST0123456789abcdefthe original movie bytes.......";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetPlatform({{}, {}, {}, {}, SmallAllocations});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFileAccess files;
    files.Put("CS18.avi", kOriginal);
    files.Put("CS18.avi.upd", std::string(reinterpret_cast<const char*>(data), size));

    const PatchResult result = ApplyAviPatch("CS18.avi", "CS18.avi.upd", nullptr);

    Check(result >= 0 && result <= 9);
    Check(files.Get("CS18.avi.upd").size() == size);
    if (result == PatchSuccessful) {
        Check(files.Get("CS18.avi.old") == kOriginal);
        Check(!files.Has("CS18.avi.new"));
    } else {
        Check(files.Get("CS18.avi") == kOriginal);
        Check(!files.Has("CS18.avi.old"));
    }
    return 0;
}
