#include "support/memory_file_access.h"

#include <cstring>

#include "platform.h"

struct FileHandle {
    std::string key;
    uint64_t position;
};

namespace {

struct StoredFile {
    std::string name;
    std::string bytes;
};

std::map<std::string, StoredFile>* store = nullptr;

FileHandle* MemoryOpen(const char* path, FileOpenMode mode) {
    const std::string key = MemoryFileKey(path);
    auto found = store->find(key);
    switch (mode) {
        case kOpenForReading:
        case kOpenExistingForWriting:
            if (found == store->end()) return nullptr;
            break;
        case kCreateNewForWriting:
            if (found != store->end()) return nullptr;
            (*store)[key] = {path, ""};
            break;
        case kCreateForWriting:
            if (found == store->end()) {
                (*store)[key] = {path, ""};
            } else {
                found->second.bytes.clear();
            }
            break;
    }
    return new FileHandle{key, 0};
}

std::string* BytesOf(FileHandle* file) {
    auto found = store->find(file->key);
    return found == store->end() ? nullptr : &found->second.bytes;
}

size_t MemoryRead(FileHandle* file, void* buffer, size_t size) {
    std::string* bytes = BytesOf(file);
    if (!bytes || file->position >= bytes->size()) return 0;
    const size_t available = bytes->size() - static_cast<size_t>(file->position);
    const size_t count = size < available ? size : available;
    std::memcpy(buffer, bytes->data() + file->position, count);
    file->position += count;
    return count;
}

bool MemoryWrite(FileHandle* file, const void* data, size_t size) {
    std::string* bytes = BytesOf(file);
    if (!bytes) return false;
    if (bytes->size() < file->position + size) bytes->resize(static_cast<size_t>(file->position + size));
    std::memcpy(&(*bytes)[static_cast<size_t>(file->position)], data, size);
    file->position += size;
    return true;
}

bool MemorySeek(FileHandle* file, uint64_t offset) {
    file->position = offset;
    return true;
}

bool MemorySize(FileHandle* file, uint64_t* size) {
    std::string* bytes = BytesOf(file);
    if (!bytes) return false;
    *size = bytes->size();
    return true;
}

bool MemoryFlush(FileHandle*) {
    return true;
}

bool MemoryClose(FileHandle* file) {
    delete file;
    return true;
}

bool Move(const char* from, const char* to, bool replacing) {
    const std::string source = MemoryFileKey(from);
    const std::string target = MemoryFileKey(to);
    auto found = store->find(source);
    if (found == store->end()) return false;
    if (source == target) return replacing;
    if (!replacing && store->count(target)) return false;
    StoredFile moved{to, found->second.bytes};
    store->erase(found);
    (*store)[target] = moved;
    return true;
}

bool MemoryRename(const char* from, const char* to) {
    return Move(from, to, false);
}

bool MemoryReplace(const char* from, const char* to) {
    return Move(from, to, true);
}

bool MemoryRemove(const char* path) {
    return store->erase(MemoryFileKey(path)) == 1;
}

bool MemoryExists(const char* path) {
    return store->count(MemoryFileKey(path)) == 1;
}

bool MemorySynced(const char*) {
    return true;
}

void MemoryStartWriteBack(FileHandle*, uint64_t, uint64_t) {}

// Memory holds no links.
std::string MemoryFollowLinks(const char* path) {
    return path;
}

bool MemorySameFile(const char* a, const char* b) {
    return MemoryExists(a) && MemoryFileKey(a) == MemoryFileKey(b);
}

const FileAccess kMemoryFileAccess = {
    MemoryOpen, MemoryRead, MemoryWrite, MemorySeek, MemorySize, MemoryFlush,
    MemoryClose, MemoryRename, MemoryReplace, MemoryRemove, MemoryExists,
    nullptr,  // no hard links: callers copy instead
    MemorySynced, MemorySynced, MemoryStartWriteBack, MemoryFollowLinks, MemorySameFile,
    nullptr,  // memory files have no modes
};

}  // namespace

std::string MemoryFileKey(const std::string& path) {
    std::string key;
    for (char c : path) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == '/' && !key.empty() && key.back() == '/') continue;
        key += c;
    }
    while (key.compare(0, 2, "./") == 0) key.erase(0, 2);
    return key;
}

MemoryFileAccess::MemoryFileAccess() : scope_(WithFiles(kMemoryFileAccess)) {
    store = new std::map<std::string, StoredFile>();
}

MemoryFileAccess::~MemoryFileAccess() {
    delete store;
    store = nullptr;
}

void MemoryFileAccess::Put(const std::string& path, const std::string& bytes) {
    (*store)[MemoryFileKey(path)] = {path, bytes};
}

bool MemoryFileAccess::Has(const std::string& path) const {
    return store->count(MemoryFileKey(path)) == 1;
}

std::string MemoryFileAccess::Get(const std::string& path) const {
    auto found = store->find(MemoryFileKey(path));
    return found == store->end() ? std::string("<missing>") : found->second.bytes;
}

std::map<std::string, std::string> MemoryFileAccess::Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& [key, file] : *store) files[file.name] = file.bytes;
    return files;
}
