#include "cutscene_step.h"

#include <cstdio>
#include <cstring>

#include "file_operations.h"
#include "game_root.h"
#include "path_format.h"
#include "patcher_ui.h"
#include "platform.h"

char CurrentCutscene[9] = {};
int32_t lastPercent = 101;

namespace {

const char* const kCutscenes[] = {"CS18.avi", "CS27.avi", "CS29.avi", "CS30.avi"};
const char kErrorCaption[] = "Video Patch Error";

// A patch data file is the only way to patch its video. When the fault lies
// with this machine rather than in the data (the video cannot be opened,
// memory ran short, the new file cannot be made), it is kept so that a later
// run, once the cause is fixed, can still patch.
bool KeepsPatchData(PatchResult code) {
    return code == CantOpenOriginal || code == InsufficientMemory || code == CantCreateNewFile;
}

void ReportFailure(PatchResult code) {
    char message[260] = {};
    std::snprintf(message, sizeof message, "%s\n\nFile: %s", PatchResultMessage(code), CurrentCutscene);
    ShowMessageBox(message, kErrorCaption, kMessageBoxOk);
}

void PatchCutscene(const char* name, AviPatcher patch) {
    std::memset(CurrentCutscene, 0, sizeof CurrentCutscene);
    std::memcpy(CurrentCutscene, name, sizeof CurrentCutscene - 1);

    char videoPath[kPathBufferSize];
    char patchPath[kPathBufferSize];
    char backupPath[kPathBufferSize];
    // The engine appends four characters to the video path in the same
    // 260 bytes, and so do the patch and backup names here. A root too long
    // for them must not make the engine or DeleteFiles work on a cut-short
    // name: the video is reported as one that cannot be opened, and nothing
    // is touched.
    const bool pathsFit = FormatPath(videoPath, "%s\\q8r\\movies\\%s", GameRoot, name) &&
                          FormatPath(patchPath, "%s.upd", videoPath) &&
                          FormatPath(backupPath, "%s.old", videoPath);
    if (!pathsFit) {
        ReportFailure(CantOpenOriginal);
        return;
    }

    const PatchResult code = patch(videoPath, patchPath, ReportPatchProgress);
    if (code != PatchSuccessful) ReportFailure(code);

    // A new file that could not take the video's place may have taken its
    // name away with it: the backup is then the original's only copy.
    if (code != CantCreateNewFile || Files().exists(videoPath)) DeleteFiles(backupPath);
    if (!KeepsPatchData(code)) DeleteFiles(patchPath);
}

}  // namespace

void PatchCutscenes() {
    PatchCutscenesWith(ApplyAviPatch);
}

void PatchCutscenesWith(AviPatcher patch) {
    for (const char* name : kCutscenes) PatchCutscene(name, patch);
}

void ReportPatchProgress(uint32_t done, uint32_t total) {
    if (total == 0) return;
    // 64 bits: done * 100 overflows 32 bits once a table has more than about
    // 43 million words.
    uint64_t percent = static_cast<uint64_t>(done) * 100 / total;
    if (percent > 100) percent = 100;
    if (static_cast<int32_t>(percent) == lastPercent) return;
    lastPercent = static_cast<int32_t>(percent);

    char status[kPathBufferSize] = {};
    std::snprintf(status, sizeof status, "Current Operation: Patching cutscene %s... %d%%", CurrentCutscene,
                  static_cast<int>(lastPercent));
    SetStatus(status);
}
