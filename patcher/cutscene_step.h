// The last step: the four cutscene videos patched from their patch data
// files, with progress on the status line.
#pragma once

#include <cstdint>

void PatchCutscenes();
void ReportPatchProgress(uint32_t done, uint32_t total);
