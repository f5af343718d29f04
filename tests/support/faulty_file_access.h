// A file layer and allocator that carry out every call through the ones in
// place when they were made, but make a chosen call fail, for testing what a
// failure leaves behind.
#pragma once

#include <string>

#include "support/platform_scope.h"

// One kind for every call of the file access table, and the allocator.
enum FileCall {
    kCallOpen,  // an open for writing
    kCallOpenForReading, kCallRead, kCallWrite, kCallSeek, kCallSize, kCallFlush, kCallClose, kCallRename, kCallReplace,
    kCallRemove, kCallExists, kCallLink,
    kCallSync,  // the folder sync after a name changed
    kCallSyncFileSystem, kCallStartWriteBack, kCallFollowLinks, kCallSameFile, kCallAllocate,
    // A replace that fails after taking the target's name away, as Windows'
    // ReplaceFile can; counted with every replace.
    kCallReplaceHalfWay,
    kCallCount
};

// While installed, the `failAt`-th call (counting from 1) of kind `call`
// fails as the system's would: nothing opened, read, written or allocated, a
// query answered "no", a link name left as it is, a write-back not started.
// A read error stays: once a read, seek or size query failed on a handle,
// every later one on it fails too. A failed write is a full disk: what was
// written before can still be flushed. A failed flush or close of a handle
// written through has lost the file's first bytes, as a write-back error
// does.
// failAt 0 fails none and only counts.
class FaultyFileAccess {
public:
    FaultyFileAccess(FileCall call, int failAt);
    ~FaultyFileAccess();
    FaultyFileAccess(const FaultyFileAccess&) = delete;
    FaultyFileAccess& operator=(const FaultyFileAccess&) = delete;

    // How many calls of each kind were made so far.
    int Count(FileCall call) const;
    bool Failed() const;

private:
    PlatformScope scope_;
};

const char* FileCallName(FileCall call);
