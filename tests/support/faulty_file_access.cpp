#include "support/faulty_file_access.h"

#include "platform.h"

namespace {

FileCall failingCall = kCallCount;
int failingAt = 0;
int counts[kCallCount] = {};
bool failed = false;
// The layer the faults are laid over: the one in place when they were armed.
FileAccess base = {};

// True when this call is the one chosen to fail.
bool Strike(FileCall call) {
    ++counts[call];
    if (call == failingCall && counts[call] == failingAt) {
        failed = true;
        return true;
    }
    return false;
}

FileHandle* FaultyOpen(const char* path, FileOpenMode mode) {
    if (mode != kOpenForReading && Strike(kCallOpen)) return nullptr;
    return base.open(path, mode);
}

size_t FaultyRead(FileHandle* file, void* buffer, size_t size) {
    if (Strike(kCallRead)) return 0;
    return base.read(file, buffer, size);
}

bool FaultyWrite(FileHandle* file, const void* data, size_t size) {
    if (Strike(kCallWrite)) {
        // A full disk takes part of the data before it refuses the rest.
        base.write(file, data, size / 2);
        return false;
    }
    return base.write(file, data, size);
}

bool FaultySeek(FileHandle* file, uint64_t offset) {
    return base.seek(file, offset);
}

bool FaultySize(FileHandle* file, uint64_t* size) {
    return base.size(file, size);
}

bool FaultyFlush(FileHandle* file) {
    if (Strike(kCallFlush)) return false;
    return base.flush(file);
}

bool FaultyClose(FileHandle* file) {
    const bool strike = Strike(kCallClose);
    const bool closed = base.close(file);
    return closed && !strike;
}

bool FaultyRename(const char* from, const char* to) {
    if (Strike(kCallRename)) return false;
    return base.rename(from, to);
}

bool FaultyReplace(const char* from, const char* to) {
    const bool halfWay = Strike(kCallReplaceHalfWay);
    if (Strike(kCallReplace)) return false;
    if (halfWay) {
        base.remove(to);
        return false;
    }
    return base.replace(from, to);
}

bool FaultyRemove(const char* path) {
    if (Strike(kCallRemove)) return false;
    return base.remove(path);
}

bool FaultyExists(const char* path) {
    return base.exists(path);
}

bool FaultyLink(const char* existing, const char* to) {
    return base.link && base.link(existing, to);
}

bool FaultySyncFolderOf(const char* path) {
    if (Strike(kCallSync)) return false;
    return base.syncFolderOf(path);
}

bool FaultySyncFileSystem(const char* path) {
    return base.syncFileSystem(path);
}

void FaultyStartWriteBack(FileHandle* file, uint64_t offset, uint64_t length) {
    base.startWriteBack(file, offset, length);
}

std::string FaultyFollowLinks(const char* path) {
    return base.followLinks(path);
}

bool FaultySameFile(const char* a, const char* b) {
    return base.sameFile(a, b);
}

const FileAccess kFaultyFileAccess = {
    FaultyOpen, FaultyRead, FaultyWrite, FaultySeek, FaultySize, FaultyFlush,
    FaultyClose, FaultyRename, FaultyReplace, FaultyRemove, FaultyExists,
    FaultyLink, FaultySyncFolderOf, FaultySyncFileSystem, FaultyStartWriteBack, FaultyFollowLinks,
    FaultySameFile,
};

const FileAccess& Arm(FileCall call, int failAt) {
    base = CurrentPlatform().files;
    failingCall = call;
    failingAt = failAt;
    failed = false;
    for (int& count : counts) count = 0;
    return kFaultyFileAccess;
}

}  // namespace

FaultyFileAccess::FaultyFileAccess(FileCall call, int failAt) : scope_(WithFiles(Arm(call, failAt))) {}

FaultyFileAccess::~FaultyFileAccess() {
    failingCall = kCallCount;
}

int FaultyFileAccess::Count(FileCall call) const {
    return counts[call];
}

bool FaultyFileAccess::Failed() const {
    return failed;
}

const char* FileCallName(FileCall call) {
    static const char* const names[] = {"open", "read", "write", "flush", "close", "rename", "replace", "remove",
                                        "folder sync", "replace half-way"};
    return call < kCallCount ? names[call] : "?";
}
