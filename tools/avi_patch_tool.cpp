// q8r-avipatch: make, apply and inspect patch data files.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ios>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>

#include "avi_patch_maker.h"
#include "file_replacement.h"
#include "platform.h"
#include "interrupt_cleanup.h"
#include "printable_text.h"
#include "side_names.h"
#include "system_reason.h"
#include "xz_packed_size.h"

namespace {

const char kUsage[] =
    "usage: q8r-avipatch make [--raw] [--force] [--allow-empty] [--verbose] [--buffer-size BYTES]\n"
    "                         [--max-segment BYTES] ORIGINAL CORRECTED PATCH\n"
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
    "               smallest packed with xz -9e, of several candidates, which\n"
    "               is never larger packed than the --raw patch\n"
    "--force        replace PATCH if it exists\n"
    "--allow-empty  make a patch to an empty CORRECTED, which empties the video\n"
    "--verbose      show each candidate's size and packed size\n"
    "--buffer-size  the working buffer the patch asks for (default 1048576, at\n"
    "               most 268435456, which a 32-bit patcher can allocate);\n"
    "               segments are at most its size less 8\n"
    "--max-segment  cut segments to at most this many bytes\n";

// Whether `size` bytes can be had, asked before anything is read. malloc
// answers a request it cannot meet with null in every build, where operator
// new in a sanitized one ends the program instead of throwing.
bool MemoryFor(uint64_t size) {
    if (size > SIZE_MAX) return false;
    void* probe = CurrentPlatform().allocate(static_cast<size_t>(size));
    if (!probe && size != 0) return false;
    std::free(probe);
    return true;
}

// An input opened and measured, not yet read, so that what it would cost
// is weighed before any of it is.
struct InputFile {
    std::string path;
    FileHandle* file = nullptr;
    uint64_t size = 0;
};

void CloseInput(InputFile& input) {
    if (input.file) Files().close(input.file);
    input.file = nullptr;
}

bool OpenInput(const std::string& path, InputFile* input, std::string* error) {
    input->path = path;
    ForgetSystemReason();
    input->file = Files().open(path.c_str(), kOpenForReading);
    if (!input->file) {
        *error = "cannot open " + path + ": " + SystemReason();
        return false;
    }
    ForgetSystemReason();
    if (!Files().size(input->file, &input->size)) {
        *error = "cannot read " + path + ": " + SystemReason();
        CloseInput(*input);
        return false;
    }
    return true;
}

std::string TooLargeToHold(const InputFile& input) {
    return input.path + " is " + std::to_string(input.size) + " bytes, too large to hold in memory";
}

// Reads the whole input and closes it.
bool ReadInput(InputFile& input, std::vector<uint8_t>* bytes, std::string* error) {
    bool read = input.size <= SIZE_MAX;
    try {
        if (read) bytes->resize(static_cast<size_t>(input.size));
    } catch (const std::bad_alloc&) {
        read = false;
    } catch (const std::length_error&) {
        read = false;
    }
    if (!read) {
        *error = TooLargeToHold(input);
    } else {
        ForgetSystemReason();
        read = Files().read(input.file, bytes->data(), bytes->size()) == bytes->size();
        if (!read) *error = "cannot read " + input.path + ": " + SystemReason();
    }
    CloseInput(input);
    return read;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    InputFile input;
    if (!OpenInput(path, &input, error)) return false;
    if (!MemoryFor(input.size)) {
        CloseInput(input);
        *error = TooLargeToHold(input);
        return false;
    }
    return ReadInput(input, bytes, error);
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

bool IsFolder(const std::string& path) {
    std::error_code error;
    // The path as the file layer takes it: the system's own narrow text.
    return std::filesystem::is_directory(std::filesystem::path(path), error);
}

// Makes the side file the patch goes to, so that an output the tool could
// not write is refused before the search, not after it.
bool BeginOutput(const std::string& path, bool force, Replacement* output, std::string* error) {
    if (IsFolder(path)) {
        *error = path + " is a folder; nothing was written";
        return false;
    }
    if (Files().exists(path.c_str()) && !force) {
        *error = path + " exists; --force replaces it";
        return false;
    }
    ForgetSystemReason();
    // Armed first, so that no moment between the side file's making and the
    // arming is open: an earlier run's leftover, which the begin clears, may
    // go as well.
    RemoveOnInterrupt(path + kPartialSuffix);
    if (!BeginReplacement(*output, path.c_str(), kPartialSuffix)) {
        KeepOnInterrupt();
        *error = "cannot create " + path + ": " + SystemReason();
        return false;
    }
    if (!output->made || output->inPlace) {
        KeepOnInterrupt();
    } else if (output->side != path + kPartialSuffix) {
        RemoveOnInterrupt(output->side);  // beside the file a link there names
    }
    return true;
}

void AbandonOutput(Replacement& output) {
    KeepOnInterrupt();
    AbandonReplacement(output);
}

bool FinishOutput(const std::string& path, Replacement& output, const std::vector<uint8_t>& bytes,
                  std::string* error) {
    ForgetSystemReason();
    if (!WriteReplacement(output, bytes.data(), bytes.size())) {
        AbandonOutput(output);
    } else {
        // From here the side file is the committed patch, or on its way.
        KeepOnInterrupt();
        if (CommitReplacement(output)) return true;
    }
    *error = "cannot write " + path + ": " + SystemReason();
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
// the end, so a short run leaves nothing behind. Null `err`: shows nothing.
struct ProgressLine {
    std::ostream* err = nullptr;
    std::string what;
    int shown = -1;

    void Show(const char* doing, uint64_t done, uint64_t total) {
        if (!err) return;
        const int percent = total ? static_cast<int>(done * 100 / total) : 100;
        if (percent == shown && what == doing) return;
        if (what != doing) Erase();
        shown = percent;
        what = doing;
        *err << "\r" << what << ": " << percent << " %" << std::flush;
    }
    void Erase() {
        if (shown >= 0) *err << "\r" << std::string(what.size() + 8, ' ') << '\r' << std::flush;
        shown = -1;
    }
};

// The engine reports through a plain function.
ProgressLine* applyLine = nullptr;
void ShowApplyProgress(uint32_t done, uint32_t total) {
    applyLine->Show("applying", done, total);
}

// What a make holds at its peak, about: both files, the index of the
// original and the candidate patches.
uint64_t MakeMemory(uint64_t originalSize, uint64_t correctedSize) {
    return 3 * (originalSize + correctedSize);
}

int Make(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    PatchMakeOptions options;
    bool force = false, allowEmpty = false, verbose = false;
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
        } else if (arg == "--force") {
            force = true;
        } else if (arg == "--allow-empty") {
            allowEmpty = true;
        } else if (arg == "--verbose") {
            verbose = true;
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
    InputFile originalFile, correctedFile;
    if (!OpenInput(paths[0], &originalFile, &error)) return Fail(err, error);
    const auto refuse = [&](const std::string& text) {
        CloseInput(originalFile);
        CloseInput(correctedFile);
        return Fail(err, text);
    };
    if (!OpenInput(paths[1], &correctedFile, &error)) return refuse(error);
    if (originalFile.size > kLargestOriginal) {
        return refuse(paths[0] + " is " + std::to_string(originalFile.size) + " bytes, more than the " +
                      std::to_string(kLargestOriginal) + " the format can address");
    }
    if (correctedFile.size == 0 && !allowEmpty) {
        return refuse(paths[1] + " is empty: its patch would empty the player's video; --allow-empty makes it");
    }
    const uint64_t needed = MakeMemory(originalFile.size, correctedFile.size);
    if (!MemoryFor(needed)) {
        return refuse("making a patch of " + paths[1] + " needs about " + std::to_string(needed >> 20) +
                      " MiB of memory, more than can be had; nothing was read");
    }
    Replacement output;
    if (!BeginOutput(paths[2], force, &output, &error)) return refuse(error);
    if (!ReadInput(originalFile, &original, &error) || !ReadInput(correctedFile, &corrected, &error)) {
        CloseInput(correctedFile);
        AbandonOutput(output);
        return Fail(err, error);
    }
    if (original == corrected) {
        err << "q8r-avipatch: " << paths[0] << " and " << paths[1]
            << " are identical; the patch leaves the video as it is\n";
    }
    ProgressLine line{errIsTerminal ? &err : nullptr, {}};
    options.progress = [&line](const char* what, uint64_t done, uint64_t total) { line.Show(what, done, total); };
    if (XzPackingAvailable()) options.packedSize = XzPackedSize;
    std::vector<PatchCandidate> weighed;
    bool made = false;
    try {
        made = MakeAviPatch(original.data(), original.size(), corrected.data(), corrected.size(), options, &patch,
                            &error, &weighed);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to make the patch of " + paths[1];
    }
    line.Erase();
    if (!made) {
        AbandonOutput(output);
        return Fail(err, error);
    }
    if (!FinishOutput(paths[2], output, patch, &error)) return Fail(err, error);
    if (verbose) {
        for (const PatchCandidate& c : weighed) {
            out << (c.chosen ? "chosen:    " : "candidate: ") << c.prices << ": " << c.bytes << " bytes, "
                << c.segments << " segments";
            if (c.packed) out << ", " << (c.sampled ? "about " : "") << c.packed << " bytes packed with xz -9e";
            out << '\n';
        }
    }
    const PatchDescription d = DescribeAviPatch(patch.data(), patch.size(), nullptr, 0);
    out << paths[2] << ": " << patch.size() << " bytes, " << d.copySegments << " copy and " << d.literalSegments
        << " literal segments, " << d.literalBytes << " literal bytes\n";
    return 0;
}

// Whether the file starts as a patch data file does.
bool LooksLikePatch(const std::string& path) {
    FileHandle* file = Files().open(path.c_str(), kOpenForReading);
    if (!file) return false;
    char magic[16];
    const bool patch = Files().read(file, magic, sizeof magic) == sizeof magic &&
                       std::memcmp(magic, kAviPatchMagic, sizeof magic) == 0;
    Files().close(file);
    return patch;
}

int Apply(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    if (args.size() != 3) return UsageError(err, "apply needs ORIGINAL and PATCH");
    const std::string& video = args[1];
    const std::string& data = args[2];
    std::string error;
    if (NamesAnInput(video, {data}, &error)) return Fail(err, error);
    InputFile input;
    if (!OpenInput(data, &input, &error)) return Fail(err, error);
    CloseInput(input);
    if (!LooksLikePatch(data)) {
        if (LooksLikePatch(video)) {
            return Fail(err, data + " is not a patch data file, but " + video +
                                 " is: the order is apply ORIGINAL PATCH; nothing was changed");
        }
        return Fail(err, data + " is not a patch data file; nothing was changed");
    }
    if (!OpenInput(video, &input, &error)) return Fail(err, error);
    CloseInput(input);
    ProgressLine line{errIsTerminal ? &err : nullptr, {}};
    applyLine = &line;
    const PatchResult code = ApplyAviPatch(video.c_str(), data.c_str(), ShowApplyProgress);
    line.Erase();
    applyLine = nullptr;
    if (code != PatchSuccessful) return Fail(err, video + ": " + PatchResultMessage(code));
    out << video << ": " << PatchResultMessage(code) << "; the original is kept as " << video << ".old\n";
    return 0;
}

int Describe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    if (args.size() != 2 && args.size() != 3) return UsageError(err, "describe needs PATCH and may take ORIGINAL");
    std::vector<uint8_t> patch, original;
    std::string error;
    if (!ReadWholeFile(args[1], &patch, &error)) return Fail(err, error);
    if (args.size() == 3 && !ReadWholeFile(args[2], &original, &error)) return Fail(err, error);
    // An empty original is still one to check against, though its data() may be null.
    const uint8_t noBytes = 0;
    const uint8_t* against = args.size() == 3 ? (original.empty() ? &noBytes : original.data()) : nullptr;
    ProgressLine line{errIsTerminal ? &err : nullptr, {}};
    const PatchDescription d = DescribeAviPatch(patch.data(), patch.size(), against, original.size(),
                                                [&line](uint64_t done, uint64_t total) { line.Show("checking", done, total); });
    line.Erase();
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
    if (command == "apply") return Apply(args, out, err, errIsTerminal);
    if (command == "describe") return Describe(args, out, err, errIsTerminal);
    return UsageError(err, "unknown command " + command);
}
