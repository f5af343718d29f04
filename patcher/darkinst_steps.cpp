#include "darkinst_steps.h"

// Placeholders until the configuration rewrites land.
void ResetDefaultDarkinst() {}
void CreateCustomDarkinst() {}
