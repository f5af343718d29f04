// q8r-avipatch: make, apply and inspect patch data files.
#include <cstdlib>
#include <ios>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>

#include "avi_patch_maker.h"
#include "file_replacement.h"
#include "platform.h"
#include "printable_text.h"

namespace {

const char kUsage[] =
    "usage: q8r-avipatch make [--raw] [--buffer-size BYTES] [--max-segment BYTES] ORIGINAL CORRECTED PATCH\n"
    "       q8r-avipatch apply ORIGINAL PATCH\n"
    "       q8r-avipatch describe PATCH [ORIGINAL]\n"
    "\n"
    "make      writes PATCH, which turns ORIGINAL into CORRECTED\n"
    "apply     patches ORIGINAL in place, as the patcher does; the original\n"
    "          is kept as ORIGINAL.old\n"
    "describe  shows what PATCH holds and checks it, against ORIGINAL if given;\n"
    "          exits with 1 when the patch would not apply cleanly\n"
    "\n"
    "--raw          make the patch file itself smallest; by default it is made\n"
    "               smallest inside a compressed archive (xz, zip), with fewer\n"
    "               segments, which the patcher also applies faster\n"
    "--buffer-size  the working buffer the patch asks for (default 1048576, at\n"
    "               most 268435456, which a 32-bit patcher can allocate);\n"
    "               segments are at most its size less 8\n"
    "--max-segment  cut segments to at most this many bytes\n";

bool Allocate(std::vector<uint8_t>* bytes, uint64_t size) {
    if (size > SIZE_MAX) return false;
    // malloc answers a request it cannot meet with null in every build, where
    // operator new in a sanitized one ends the program instead of throwing.
    void* probe = CurrentPlatform().allocate(static_cast<size_t>(size));
    if (!probe && size != 0) return false;
    std::free(probe);
    try {
        bytes->resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

// Refuses a file over `largest` bytes, or one there is no memory for, from
// its size, before reading any of it.
bool ReadWholeFile(const std::string& path, uint64_t largest, std::vector<uint8_t>* bytes, std::string* error) {
    const FileAccess& files = Files();
    FileHandle* file = files.open(path.c_str(), kOpenForReading);
    if (!file) {
        *error = "cannot open " + path;
        return false;
    }
    uint64_t size = 0;
    bool read = files.size(file, &size);
    *error = "cannot read " + path;
    if (read && size > largest) {
        *error = path + " is " + std::to_string(size) + " bytes, more than the " + std::to_string(largest) +
                 " the format can address";
        read = false;
    }
    if (read && !Allocate(bytes, size)) {
        *error = path + " is " + std::to_string(size) + " bytes, too large to hold in memory";
        read = false;
    }
    if (read) read = files.read(file, bytes->data(), bytes->size()) == bytes->size();
    files.close(file);
    return read;
}

// Never leaves a partial file under `path`: the bytes go to a side file that
// replaces `path` only once it is complete on the disk.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    Replacement output;
    if (!BeginReplacement(output, path.c_str(), ".partial")) {
        *error = "cannot create " + output.side;
        return false;
    }
    if (!WriteReplacement(output, bytes.data(), bytes.size())) {
        AbandonReplacement(output);
    } else if (CommitReplacement(output)) {
        return true;
    }
    *error = "cannot write " + path;
    return false;
}

// An output that is one of the inputs, under any name, would be destroyed.
bool NamesAnInput(const std::string& output, const std::vector<std::string>& inputs, std::string* error) {
    for (const std::string& input : inputs) {
        if (Files().sameFile(output.c_str(), input.c_str())) {
            *error = output + " is the same file as the input " + input + "; nothing was written";
            return true;
        }
    }
    return false;
}

bool ParseCount(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (parsed > 0xFFFFFFFFull) return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

int Fail(std::ostream& err, const std::string& text) {
    err << "q8r-avipatch: " << text << '\n';
    return 1;
}

int UsageError(std::ostream& err, const std::string& text) {
    err << "q8r-avipatch: " << text << "\n" << "Try 'q8r-avipatch --help'.\n";
    return 2;
}

// One line on a terminal, rewritten as the percentage moves and erased at
// the end, so a short make leaves nothing behind.
struct ProgressLine {
    std::ostream* err = nullptr;
    int shown = -1;

    void Show(uint64_t done, uint64_t total) {
        const int percent = total ? static_cast<int>(done * 100 / total) : 100;
        if (percent == shown) return;
        shown = percent;
        *err << "\rsearching for copies: " << percent << " %" << std::flush;
    }
    void Erase() {
        if (shown >= 0) *err << "\r" << std::string(30, ' ') << '\r' << std::flush;
    }
};

int Make(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    PatchMakeOptions options;
    std::vector<std::string> paths;
    for (size_t k = 1; k < args.size(); ++k) {
        const std::string& arg = args[k];
        if (arg == "--buffer-size" || arg == "--max-segment") {
            uint32_t value = 0;
            if (k + 1 == args.size() || !ParseCount(args[k + 1], &value)) {
                return UsageError(err, arg + " needs a number of bytes");
            }
            (arg == "--buffer-size" ? options.bufferSize : options.maxSegment) = value;
            if (arg == "--max-segment" && value == 0) return UsageError(err, "--max-segment must be at least 1");
            ++k;
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError(err, "unknown option " + arg);
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 3) return UsageError(err, "make needs ORIGINAL, CORRECTED and PATCH");
    std::vector<uint8_t> original, corrected, patch;
    std::string error;
    if (NamesAnInput(paths[2], {paths[0], paths[1]}, &error)) return Fail(err, error);
    if (!ReadWholeFile(paths[0], kLargestOriginal, &original, &error) ||
        !ReadWholeFile(paths[1], UINT64_MAX, &corrected, &error)) {
        return Fail(err, error);
    }
    ProgressLine line{&err};
    if (errIsTerminal) options.progress = [&line](uint64_t done, uint64_t total) { line.Show(done, total); };
    bool made = false;
    try {
        made = MakeAviPatch(original.data(), original.size(), corrected.data(), corrected.size(), options, &patch,
                            &error);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to make the patch of " + paths[1];
    }
    line.Erase();
    if (!made || !WriteWholeFile(paths[2], patch, &error)) return Fail(err, error);
    const PatchDescription d = DescribeAviPatch(patch.data(), patch.size(), nullptr, 0);
    out << paths[2] << ": " << patch.size() << " bytes, " << d.copySegments << " copy and " << d.literalSegments
        << " literal segments, " << d.literalBytes << " literal bytes\n";
    return 0;
}

int Apply(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 3) return UsageError(err, "apply needs ORIGINAL and PATCH");
    std::string error;
    if (NamesAnInput(args[1], {args[2]}, &error)) return Fail(err, error);
    const PatchResult code = ApplyAviPatch(args[1].c_str(), args[2].c_str(), nullptr);
    if (code != PatchSuccessful) return Fail(err, args[1] + ": " + PatchResultMessage(code));
    out << args[1] << ": " << PatchResultMessage(code) << "; the original is kept as " << args[1] << ".old\n";
    return 0;
}

int Describe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2 && args.size() != 3) return UsageError(err, "describe needs PATCH and may take ORIGINAL");
    std::vector<uint8_t> patch, original;
    std::string error;
    if (!ReadWholeFile(args[1], UINT64_MAX, &patch, &error)) return Fail(err, error);
    if (args.size() == 3 && !ReadWholeFile(args[2], UINT64_MAX, &original, &error)) return Fail(err, error);
    // An empty original is still one to check against, though its data() may be null.
    const uint8_t noBytes = 0;
    const uint8_t* against = args.size() == 3 ? (original.empty() ? &noBytes : original.data()) : nullptr;
    const PatchDescription d = DescribeAviPatch(patch.data(), patch.size(), against, original.size());
    out << "file:             " << args[1] << ", " << d.fileSize << " bytes\n";
    if (d.headerComplete) {
        const AviPatchHeader& h = d.header;
        out << "magic:            " << PrintableText(std::string(h.magic, sizeof h.magic)) << '\n'
            << "buffer size:      " << h.bufferSize << " (effective " << EffectivePatchBuffer(h.bufferSize) << ")\n"
            << "original size:    " << h.originalSize << '\n'
            << "table words:      " << h.wordCount << '\n'
            << "table sum:        0x" << std::hex << std::uppercase << h.tableSum << std::dec << '\n'
            << "copy segments:    " << d.copySegments << ", " << d.copyBytes << " bytes\n"
            << "literal segments: " << d.literalSegments << ", " << d.literalBytes << " bytes\n"
            << "corrected size:   " << d.copyBytes + d.literalBytes << '\n'
            << "longest segment:  " << d.longestSegment << '\n';
    }
    for (const std::string& problem : d.problems) out << "problem:          " << problem << '\n';
    const char* verdict = d.problems.empty() ? (d.checkedOriginal ? "applies to the original" :                "well-formed")
                                             : (d.checkedOriginal ? "does not apply to the original" :                "not well-formed");
    out << "verdict:          " << verdict << '\n';
    return d.problems.empty() ? 0 : 1;
}

}  // namespace

int RunAviPatchTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    if (args.empty()) return UsageError(err, "no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << kUsage;
        return 0;
    }
    if (command == "make") return Make(args, out, err, errIsTerminal);
    if (command == "apply") return Apply(args, out, err);
    if (command == "describe") return Describe(args, out, err);
    return UsageError(err, "unknown command " + command);
}
