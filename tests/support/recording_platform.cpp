#include "support/recording_platform.h"

#include <cstring>

#include "game_root.h"
#include "left_behind.h"

namespace {

Recorder* active = nullptr;
// The operations in place before the recorder, which it carries out.
FileOperations carriedOut = {};

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
    const int result = active->carryOutOperations && real ? real(from, to) : 0;
    active->operations.push_back({kind, from, to ? to : "", result});
    return result;
}

int RecordMove(const char* from, const char* to) {
    return Record("move", from, to, carriedOut.move);
}

int RecordCopy(const char* from, const char* to) {
    return Record("copy", from, to, carriedOut.copy);
}

int CarriedOutDelete(const char* path, const char*) {
    return carriedOut.remove ? carriedOut.remove(path) : 0;
}

int RecordDelete(const char* path) {
    return Record("delete", path, nullptr, CarriedOutDelete);
}

// The request is taken, as a shell would take it.
long RecordShellOpen(const char* verb, const char* file, const char* parameters, const char* directory,
                     int showCommand) {
    active->shellRequests.push_back({verb, file, parameters != nullptr, directory, showCommand});
    return 42;
}

Platform Recording(Recorder* record) {
    active = record;
    Platform platform = CurrentPlatform();
    carriedOut = platform.operations;
    platform.operations = {RecordMove, RecordCopy, RecordDelete};
    platform.ui = {RecordStatus, RecordBox, RecordEnd, nullptr};
    platform.shell = {RecordShellOpen};
    return platform;
}

}  // namespace

int RunStep(void (*step)()) {
    try {
        step();
    } catch (const ProgramEnded& ended) {
        return ended.exitCode;
    }
    return -1;
}

// What a test's run left behind is no business of the next test.
RecordingPlatform::RecordingPlatform() : scope_(Recording(&record_)) {
    ForgetLeftBehind();
}

RecordingPlatform::~RecordingPlatform() {
    ForgetLeftBehind();
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
