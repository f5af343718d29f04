#include "left_behind.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "game_root.h"
#include "patcher_ui.h"

const char* const kLeftBehindCaption = "Files Left Behind";
const char* const kLeftBehindIntro = "Task Finished, but these items were left as they were:";
const char* const kLeftBehindMore = "and %zu more.";
const char* const kLeftBehindAdvice =
    "Nothing was lost: what is named here is still in its old place.\n"
    "Close any program that may be using the game folder, mend what\n"
    "the reasons say, then run Q8RPatcher again.";

namespace {

// How many items the box names one by one; a folder of thousands left
// behind must still give a box that fits the screen.
const size_t kItemsNamed = 5;

struct LeftItem {
    std::string path;
    std::string reason;
};

std::vector<LeftItem> leftBehind;
std::string shownRoot;

// The item's name below the game folder, which is what the player knows it
// by; the platform's long-name prefix is no part of it.
std::string ShownPath(const std::string& path) {
    std::string shown = path.rfind("\\\\?\\", 0) == 0 ? path.substr(4) : path;
    const std::string root = !shownRoot.empty() ? shownRoot : GameRoot ? GameRoot : "";
    if (!root.empty()) {
        const size_t rootLength = root.size();
        if (shown.size() > rootLength + 1 && shown.compare(0, rootLength, root) == 0 &&
            (shown[rootLength] == '\\' || shown[rootLength] == '/')) {
            shown = shown.substr(rootLength + 1);
        }
    }
    return shown;
}

}  // namespace

void NoteLeftBehind(const std::string& path, const std::string& reason) {
    for (const LeftItem& item : leftBehind) {
        if (item.path == path) return;
    }
    leftBehind.push_back({path, reason});
}

void SetLeftBehindRoot(const std::string& root) {
    shownRoot = root;
}

size_t LeftBehindCount() {
    return leftBehind.size();
}

void ForgetLeftBehind() {
    leftBehind.clear();
}

std::string LeftBehindMessage() {
    std::string text = kLeftBehindIntro;
    text += "\n\n";
    for (size_t i = 0; i < leftBehind.size() && i < kItemsNamed; ++i) {
        text += ShownPath(leftBehind[i].path) + " (" + leftBehind[i].reason + ")\n";
    }
    if (leftBehind.size() > kItemsNamed) {
        char more[64];
        std::snprintf(more, sizeof more, kLeftBehindMore, leftBehind.size() - kItemsNamed);
        text += std::string(more) + "\n";
    }
    text += "\n";
    text += kLeftBehindAdvice;
    return text;
}

void ReportLeftBehind() {
    if (leftBehind.empty()) return;
    ShowMessageBox(LeftBehindMessage().c_str(), kLeftBehindCaption, kMessageBoxError);
    EndProgram(kExitItemsLeftBehind);
}
