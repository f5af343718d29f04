#include "support/faulty_file_access.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform.h"

namespace {

FileCall failingCall = kCallCount;
int failingAt = 0;
int counts[kCallCount] = {};
bool failed = false;
std::vector<FileHandle*> brokenHandles;
std::vector<FileHandle*> writtenHandles;
// The layer the faults are laid over: the one in place when they were armed.
Platform base = {};

// True when this call is the one chosen to fail.
bool Strike(FileCall call) {
    ++counts[call];
    if (call == failingCall && counts[call] == failingAt) {
        failed = true;
        return true;
    }
    return false;
}

bool Holds(const std::vector<FileHandle*>& handles, FileHandle* file) {
    return std::find(handles.begin(), handles.end(), file) != handles.end();
}

void Forget(std::vector<FileHandle*>& handles, FileHandle* file) {
    handles.erase(std::remove(handles.begin(), handles.end(), file), handles.end());
}

// A read, seek or size query fails when it is the chosen one or one of them
// failed on the handle before: a read error stays.
bool StrikeReading(FileCall call, FileHandle* file) {
    const bool strike = Strike(call);
    if (Holds(brokenHandles, file)) return true;
    if (strike) brokenHandles.push_back(file);
    return strike;
}

FileHandle* FaultyOpen(const char* path, FileOpenMode mode) {
    if (Strike(mode == kOpenForReading ? kCallOpenForReading : kCallOpen)) return nullptr;
    return base.files.open(path, mode);
}

size_t FaultyRead(FileHandle* file, void* buffer, size_t size) {
    if (StrikeReading(kCallRead, file)) return 0;
    return base.files.read(file, buffer, size);
}

bool FaultyWrite(FileHandle* file, const void* data, size_t size) {
    if (!Holds(writtenHandles, file)) writtenHandles.push_back(file);
    if (Strike(kCallWrite)) {
        // A full disk takes part of the data before it refuses the rest.
        base.files.write(file, data, size / 2);
        return false;
    }
    return base.files.write(file, data, size);
}

bool FaultySeek(FileHandle* file, uint64_t offset) {
    if (StrikeReading(kCallSeek, file)) return false;
    return base.files.seek(file, offset);
}

bool FaultySize(FileHandle* file, uint64_t* size) {
    if (StrikeReading(kCallSize, file)) return false;
    return base.files.size(file, size);
}

// A flush or close that fails has lost what was written, as a write-back
// error does: the file's first bytes are gone.
void LoseWrittenData(FileHandle* file) {
    if (!Holds(writtenHandles, file)) return;
    uint64_t size = 0;
    if (!base.files.size(file, &size) || !base.files.seek(file, 0)) return;
    const std::string lost(size < 4096 ? size : 4096, '\0');
    base.files.write(file, lost.data(), lost.size());
}

bool FaultyFlush(FileHandle* file) {
    if (Strike(kCallFlush)) {
        LoseWrittenData(file);
        return false;
    }
    return base.files.flush(file);
}

bool FaultyClose(FileHandle* file) {
    const bool strike = Strike(kCallClose);
    if (strike) LoseWrittenData(file);
    Forget(brokenHandles, file);
    Forget(writtenHandles, file);
    const bool closed = base.files.close(file);
    return closed && !strike;
}

bool FaultyRename(const char* from, const char* to) {
    if (Strike(kCallRename)) return false;
    return base.files.rename(from, to);
}

bool FaultyReplace(const char* from, const char* to) {
    const bool halfWay = Strike(kCallReplaceHalfWay);
    if (Strike(kCallReplace)) return false;
    if (halfWay) {
        base.files.remove(to);
        return false;
    }
    return base.files.replace(from, to);
}

bool FaultyRemove(const char* path) {
    if (Strike(kCallRemove)) return false;
    return base.files.remove(path);
}

bool FaultyExists(const char* path) {
    if (Strike(kCallExists)) return false;
    return base.files.exists(path);
}

bool FaultyLink(const char* existing, const char* to) {
    if (Strike(kCallLink)) return false;
    return base.files.link && base.files.link(existing, to);
}

bool FaultySyncFolderOf(const char* path) {
    if (Strike(kCallSync)) return false;
    return base.files.syncFolderOf(path);
}

bool FaultySyncFileSystem(const char* path) {
    if (Strike(kCallSyncFileSystem)) return false;
    return base.files.syncFileSystem(path);
}

void FaultyStartWriteBack(FileHandle* file, uint64_t offset, uint64_t length) {
    if (Strike(kCallStartWriteBack)) return;
    base.files.startWriteBack(file, offset, length);
}

// A link that cannot be read is taken for no link, as for a dangling one.
std::string FaultyFollowLinks(const char* path) {
    if (Strike(kCallFollowLinks)) return path;
    return base.files.followLinks(path);
}

bool FaultySameFile(const char* a, const char* b) {
    if (Strike(kCallSameFile)) return false;
    return base.files.sameFile(a, b);
}

// Modes are kept, never failed: their loss is no failure of a write.
void FaultyKeepModeOf(FileHandle* file, const char* model, bool withOwner) {
    if (base.files.keepModeOf) base.files.keepModeOf(file, model, withOwner);
}

void* FaultyAllocate(size_t size) {
    if (Strike(kCallAllocate)) return nullptr;
    return base.allocate(size);
}

const FileAccess kFaultyFileAccess = {
    FaultyOpen, FaultyRead, FaultyWrite, FaultySeek, FaultySize, FaultyFlush,
    FaultyClose, FaultyRename, FaultyReplace, FaultyRemove, FaultyExists,
    FaultyLink, FaultySyncFolderOf, FaultySyncFileSystem, FaultyStartWriteBack, FaultyFollowLinks,
    FaultySameFile, FaultyKeepModeOf,
};

Platform Arm(FileCall call, int failAt) {
    base = CurrentPlatform();
    failingCall = call;
    failingAt = failAt;
    failed = false;
    brokenHandles.clear();
    writtenHandles.clear();
    for (int& count : counts) count = 0;
    Platform faulty = base;
    faulty.files = kFaultyFileAccess;
    faulty.allocate = FaultyAllocate;
    return faulty;
}

}  // namespace

FaultyFileAccess::FaultyFileAccess(FileCall call, int failAt) : scope_(Arm(call, failAt)) {}

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
    static const char* const names[] = {"open",   "open for reading", "read",   "write",  "seek",        "size",
                                        "flush",  "close",  "rename", "replace",     "remove",
                                        "exists", "link",   "folder sync", "file-system sync",
                                        "write-back", "link following", "same file", "allocation", "replace half-way"};
    static_assert(std::size(names) == kCallCount);
    return call < kCallCount ? names[call] : "?";
}
