#include "fuzz_platform.h"

#include <cstring>

#include "file_access.h"
#include "file_operations.h"
#include "game_root.h"
#include "patcher_ui.h"

namespace {

FuzzRecord* active = nullptr;

void FuzzStatus(const char*) {}

void FuzzBox(const char* text, const char* caption, unsigned) {
    active->boxes.push_back(std::string(caption) + ": " + text);
}

void FuzzEnd(int exitCode) {
    active->exitCode = exitCode;
    throw FuzzProgramEnded{};
}

int FuzzMove(const char* from, const char* to) {
    return 1;
}

int FuzzCopy(const char* from, const char* to) {
    return 1;
}

int FuzzDelete(const char* path) {
    return Files().remove(path) ? 0 : 1;
}

const PatcherUi kFuzzUi = {FuzzStatus, FuzzBox, FuzzEnd};
const FileOperations kFuzzOperations = {FuzzMove, FuzzCopy, FuzzDelete};

}  // namespace

FuzzPlatform::FuzzPlatform() {
    active = new FuzzRecord();
    UsePatcherUi(&kFuzzUi);
    UseFileOperations(&kFuzzOperations);
    GameRoot = new char[260]();
    std::strcpy(GameRoot, ".");
}

FuzzPlatform::~FuzzPlatform() {
    ReleaseGameRoot();
    UseFileOperations(nullptr);
    UsePatcherUi(nullptr);
    delete active;
    active = nullptr;
}

FuzzRecord& FuzzPlatform::record() {
    return *active;
}
