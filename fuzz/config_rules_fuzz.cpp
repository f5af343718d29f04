// The configuration reader and both Darkinst.cfg rewrites fed any bytes.
// Whatever the input: no line read holds a line end or the end marker; a
// file with nothing to change is left byte for byte; a rewritten file ends
// with exactly one end marker and reads back without one; no temporary file
// is left behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "darkinst_steps.h"
#include "install_config.h"
#include "support/memory_file_access.h"
#include "support/recording_platform.h"

namespace {

void Check(bool holds) {
    if (!holds) std::abort();
}

void CheckLines(const ConfigLines& read) {
    Check(read.opened);
    Check(read.held);
    ForEachConfigLine(read, [](std::string_view line, bool) {
        Check(line.find('\x1A') == std::string::npos);
        Check(line.find('\n') == std::string::npos);
    });
}

// A file these rules wrote: CR LF line ends, one end marker, last.
void CheckWritten(const std::string& bytes) {
    Check(!bytes.empty() && bytes.back() == '\x1A');
    Check(bytes.find('\x1A') == bytes.size() - 1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') Check(i > 0 && bytes[i - 1] == '\r');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    {
        MemoryFileAccess files;
        files.Put("Darkinst.cfg", input);
        const ConfigLines read = ReadConfigLines("Darkinst.cfg");
        CheckLines(read);

        RecordingPlatform platform;
        GameRootScope root(".");
        Check(RunStep(ResetDefaultDarkinst) == -1);
        const std::string after = files.Get("Darkinst.cfg");
        if (after != input) {
            CheckWritten(after);
            CheckLines(ReadConfigLines("Darkinst.cfg"));
        }
        Check(files.Snapshot().size() == 1);
    }

    {
        MemoryFileAccess files;
        files.Put(".\\q8r\\install.cfg", input);
        RecordingPlatform platform;
        platform.record().carryOutOperations = false;
        GameRootScope root(".");
        Check(RunStep(CreateCustomDarkinst) == -1);
        Check(platform.record().boxes.empty());
        Check(!files.Has(".\\q8r\\install.cfg"));
        const std::string made = files.Get(".\\q8r\\Darkinst.cfg");
        CheckWritten(made);
        CheckLines(ReadConfigLines(".\\q8r\\Darkinst.cfg"));
        Check(files.Snapshot().size() == 1);
    }
    return 0;
}
