// Identifiers shared by the launcher's code and its resource script, so
// plain #defines that windres can read.
#pragma once

#define IDB_BACKGROUND 108
#define IDI_LAUNCHER 201
#define IDI_LAUNCHER_SMALL 202
#define IDC_PLAY_Q8R 301
#define IDC_PLAY_THIEF2 302
