#include "cutscene_step.h"

// Placeholders until the patch engine lands.
void PatchCutscenes() {}
void ReportPatchProgress(uint32_t, uint32_t) {}
