// The two steps that rewrite a Darkinst.cfg: the reset of the game root's
// own file, and the mod folder's file made from the copied install.cfg.
#pragma once

void ResetDefaultDarkinst();
void CreateCustomDarkinst();
