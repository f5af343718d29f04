#include "win32_wine.h"

#include <windows.h>

namespace {

WineAnswer pretended = WineAnswer::kAskTheSystem;

// Wine's ntdll exports wine_get_version; Windows' never has.
bool AskTheSystem() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

bool RunningUnderWine() {
    static const bool underWine = AskTheSystem();
    if (pretended != WineAnswer::kAskTheSystem) return pretended == WineAnswer::kWine;
    return underWine;
}

void PretendRunningUnder(WineAnswer answer) {
    pretended = answer;
}
