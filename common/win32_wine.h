// Whether this process runs under Wine, asked once. A workaround for one of
// Wine's behaviours runs only there, and is marked where it stands with
// "Wine 8:", the behaviour it answers, the test that shows it, and what
// would let it go; on Windows the documented behaviour is relied on.
#pragma once

enum class WineAnswer { kAskTheSystem, kWine, kWindows };

bool RunningUnderWine();

// For the tests: take the Windows branches under Wine, or the reverse.
void PretendRunningUnder(WineAnswer answer);
