#include "support/scratch_folder.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::string name = "q8r-test-" + std::to_string(random()) + "-" + std::to_string(counter++);
    root_ = fs::temp_directory_path() / name;
    fs::create_directories(root_);
    root_ = fs::canonical(root_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
}

std::string ScratchFolder::RootText() const {
    return root_.string();
}

std::string ScratchFolder::PathText(const std::string& relative) const {
    return (root_ / fs::path(relative).make_preferred()).string();
}

void ScratchFolder::Write(const std::string& relative, const std::string& bytes) const {
    const fs::path path = root_ / fs::path(relative).make_preferred();
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void ScratchFolder::MakeFolder(const std::string& relative) const {
    fs::create_directories(root_ / fs::path(relative).make_preferred());
}

std::string ScratchFolder::Read(const std::string& relative) const {
    std::ifstream in(root_ / fs::path(relative).make_preferred(), std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool ScratchFolder::Exists(const std::string& relative) const {
    std::error_code error;
    return fs::exists(fs::symlink_status(root_ / fs::path(relative).make_preferred(), error));
}

bool ScratchFolder::IsFolder(const std::string& relative) const {
    std::error_code error;
    return fs::is_directory(fs::symlink_status(root_ / fs::path(relative).make_preferred(), error));
}

std::vector<std::string> ScratchFolder::Tree() const {
    std::vector<std::string> items;
    for (auto it = fs::recursive_directory_iterator(root_); it != fs::recursive_directory_iterator(); ++it) {
        std::string relative = fs::relative(it->path(), root_).generic_string();
        if (it->is_directory() && !it->is_symlink()) relative += '/';
        items.push_back(relative);
    }
    std::sort(items.begin(), items.end());
    return items;
}

WorkingDirectoryScope::WorkingDirectoryScope(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
}

WorkingDirectoryScope::~WorkingDirectoryScope() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}
