// The recording fake platform of the unit tests and the fuzz targets: what
// the programs showed and asked for, in order. File operations are recorded
// and, unless a test says otherwise, carried out by the ones that were in
// place before; file access and allocation stay as they were.
#pragma once

#include <string>
#include <vector>

#include "support/platform_scope.h"

struct RecordedBox {
    std::string text;
    std::string caption;
    unsigned style;
};

struct RecordedOperation {
    std::string kind;  // "move", "copy" or "delete"
    std::string from;
    std::string to;    // empty for a delete
    int result;
};

struct RecordedShellRequest {
    std::string verb;
    std::string file;
    bool hasParameters;
    std::string directory;
    int showCommand;
};

// Thrown by the fake's end of the program, so a test sees the exit code.
struct ProgramEnded {
    int exitCode;
};

// Runs a step of the task sequence: the exit code it ended the program
// with, or -1 when it returned.
int RunStep(void (*step)());

struct Recorder {
    std::vector<std::string> statuses;
    std::vector<RecordedBox> boxes;
    std::vector<RecordedOperation> operations;
    std::vector<RecordedShellRequest> shellRequests;
    // Every status text and box caption in the order shown.
    std::vector<std::string> events;
    bool carryOutOperations = true;
};

// Installs the fake behind the status line, the message box, the end of the
// program, the file operations and the shell, for the life of the object.
class RecordingPlatform {
public:
    RecordingPlatform();
    ~RecordingPlatform();
    RecordingPlatform(const RecordingPlatform&) = delete;
    RecordingPlatform& operator=(const RecordingPlatform&) = delete;

    Recorder& record() { return record_; }

private:
    Recorder record_;
    PlatformScope scope_;
};

// Points GameRoot at `folder` (without a trailing separator) for the life of
// the object.
class GameRootScope {
public:
    explicit GameRootScope(const std::string& folder);
    ~GameRootScope();
};
