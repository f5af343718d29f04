// A file layer that carries out every call through the one in place when it
// was made, but makes a chosen call fail, for testing what a failure leaves behind.
#pragma once

#include <string>

#include "support/platform_scope.h"

enum FileCall {
    kCallOpen, kCallRead, kCallWrite, kCallFlush, kCallClose, kCallRename, kCallReplace, kCallRemove,
    kCallSync,  // the folder sync after a name changed
    // A replace that fails after taking the target's name away, as Windows'
    // ReplaceFile can; counted with every replace.
    kCallReplaceHalfWay,
    kCallCount
};

// While installed, the `failAt`-th call (counting from 1) of kind `call`
// fails; failAt 0 fails none and only counts. Open failures apply only to
// opens for writing, so a test can still read its inputs.
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
