// A file layer held in memory, for fuzzing and for tests that want many
// runs without touching the disk. Names are matched without regard to
// letter case and separator, as on the game's file system.
#pragma once

#include <map>
#include <string>

#include "support/platform_scope.h"

class MemoryFileAccess {
public:
    MemoryFileAccess();
    ~MemoryFileAccess();
    MemoryFileAccess(const MemoryFileAccess&) = delete;
    MemoryFileAccess& operator=(const MemoryFileAccess&) = delete;

    void Put(const std::string& path, const std::string& bytes);
    bool Has(const std::string& path) const;
    std::string Get(const std::string& path) const;
    // Every file, by its name as first written.
    std::map<std::string, std::string> Snapshot() const;

private:
    PlatformScope scope_;
};

// The key a path is filed under: lower case, '/' separators, no "./".
std::string MemoryFileKey(const std::string& path);
