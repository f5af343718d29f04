// The last step: the four cutscene videos patched from their patch data
// files, with progress on the status line.
#pragma once

#include <cstdint>

#include "avi_patch.h"

// The name of the video being patched, 8 characters and a zero.
extern char CurrentCutscene[9];
// The percentage last written to the status line; 101 until the first report,
// and kept from one video to the next.
extern int32_t lastPercent;

void PatchCutscenes();
void ReportPatchProgress(uint32_t done, uint32_t total);

// PatchCutscenes with another engine in place of ApplyAviPatch, so a test can
// have the step meet every result code.
typedef PatchResult (*AviPatcher)(const char* aviPath, const char* patchPath, PatchProgress progress);
void PatchCutscenesWith(AviPatcher patch);
