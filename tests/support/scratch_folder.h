// A fresh folder for one test, removed afterwards, with helpers to lay out
// and read back game folders.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    // The root as the programs see it: the platform's own path text.
    std::string RootText() const;
    // `relative` uses '/' on every platform.
    std::string PathText(const std::string& relative) const;

    void Write(const std::string& relative, const std::string& bytes) const;
    void MakeFolder(const std::string& relative) const;
    std::string Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;
    bool IsFolder(const std::string& relative) const;
    // Every item below the root, '/'-separated, folders ending in '/', sorted.
    std::vector<std::string> Tree() const;

private:
    std::filesystem::path root_;
};

// Runs the current test with the working directory set to a folder and puts
// the old one back afterwards.
class WorkingDirectoryScope {
public:
    explicit WorkingDirectoryScope(const std::filesystem::path& folder);
    ~WorkingDirectoryScope();

private:
    std::filesystem::path previous_;
};
