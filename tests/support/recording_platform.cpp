#include "support/recording_platform.h"

#include <cstring>

#include "file_operations.h"
#include "game_root.h"
#include "patcher_ui.h"

namespace {

Recorder* active = nullptr;

void RecordStatus(const char* text) {
    active->statuses.push_back(text);
    active->events.push_back(std::string("status: ") + text);
}

void RecordBox(const char* text, const char* caption, unsigned style) {
    active->boxes.push_back({text, caption, style});
    active->events.push_back(std::string("box: ") + caption);
}

void RecordEnd(int exitCode) {
    throw ProgramEnded{exitCode};
}

int Record(const char* kind, const char* from, const char* to, int (*real)(const char*, const char*)) {
    const int result = active->carryOutOperations ? real(from, to) : 0;
    active->operations.push_back({kind, from, to ? to : "", result});
    return result;
}

int RecordMove(const char* from, const char* to) {
    return Record("move", from, to, PlatformFileOperations().move);
}

int RecordCopy(const char* from, const char* to) {
    return Record("copy", from, to, PlatformFileOperations().copy);
}

int RealDelete(const char* path, const char*) {
    return PlatformFileOperations().remove(path);
}

int RecordDelete(const char* path) {
    return Record("delete", path, nullptr, RealDelete);
}

const PatcherUi kRecordingUi = {RecordStatus, RecordBox, RecordEnd};
const FileOperations kRecordingOperations = {RecordMove, RecordCopy, RecordDelete};

}  // namespace

int RunStep(void (*step)()) {
    try {
        step();
    } catch (const ProgramEnded& ended) {
        return ended.exitCode;
    }
    return -1;
}

RecordingPlatform::RecordingPlatform() {
    active = &record_;
    UsePatcherUi(&kRecordingUi);
    UseFileOperations(&kRecordingOperations);
}

RecordingPlatform::~RecordingPlatform() {
    UseFileOperations(nullptr);
    UsePatcherUi(nullptr);
    active = nullptr;
}

GameRootScope::GameRootScope(const std::string& folder) {
    ReleaseGameRoot();
    GameRoot = new char[folder.size() + 260]();
    std::memcpy(GameRoot, folder.c_str(), folder.size());
}

GameRootScope::~GameRootScope() {
    ReleaseGameRoot();
}
