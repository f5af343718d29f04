#pragma once

// True when the Windows build runs under Wine, whose shell file operations
// differ from Windows' in a few known ways; tests skip those checks there.
bool RunningUnderWine();
