// The walk's items (file_walk.h) held in memory, for tests of its rules and
// sweeps that fail each of its calls in turn, without a disk. Paths are
// absolute, '/'-separated and case-sensitive; links hold absolute targets;
// everything below "/other" lies on a second volume, so a move there takes
// the walk's copy.
#pragma once

#include <map>
#include <string>

#include "file_walk.h"

struct MemoryNode {
    char kind;         // 'f' file, 'd' folder, 'l' link
    std::string data;  // a file's bytes, a link's target
    int id = 0;        // the file index: a second (hard) name shares it
};

class MemoryItems {
public:
    MemoryItems();
    ~MemoryItems();
    MemoryItems(const MemoryItems&) = delete;
    MemoryItems& operator=(const MemoryItems&) = delete;

    // Back to the two empty roots, "/" and "/other".
    void Clear();
    void File(const std::string& path, const std::string& bytes);
    void Folder(const std::string& path);
    void Link(const std::string& path, const std::string& target);
    // A second name of the file at `existing`.
    void HardLink(const std::string& existing, const std::string& path);

    // Makes the `failAt`-th call that lists, identifies or changes anything
    // fail (0: none), and counts them all.
    void FailCall(int failAt);
    int Calls() const;

    // Every entry, by its path: 'f' with the bytes, 'd', or 'l' with the target.
    std::map<std::string, std::string> Tree() const;

    const ItemAccess& Access() const;

    std::map<std::string, MemoryNode> nodes;
};
