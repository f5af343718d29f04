#include "support/memory_items.h"

#include <vector>

namespace {

MemoryItems* current = nullptr;
int calls = 0;
int failAt = 0;
int nextId = 1;

// False for the call chosen to fail.
bool Allowed() {
    return ++calls != failAt;
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The real path a path names, links on the way followed (the last one too
// when `followLast`); it need not exist.
std::string Real(const std::string& path, bool followLast, int depth = 0) {
    std::string real;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string element = path.substr(start, end - start);
        start = end + 1;
        if (element.empty()) continue;
        real += "/" + element;
        const auto node = current->nodes.find(real);
        if (node != current->nodes.end() && node->second.kind == 'l' && (followLast || start <= path.size()) &&
            depth < 20) {
            real = Real(node->second.data, true, depth + 1);
        }
    }
    return real.empty() ? "/" : real;
}

const MemoryNode* At(const std::string& real) {
    const auto node = current->nodes.find(real);
    return node == current->nodes.end() ? nullptr : &node->second;
}

int VolumeOf(const std::string& real) {
    return real == "/other" || real.rfind("/other/", 0) == 0 ? 2 : 1;
}

bool Matches(const std::string& pattern, const std::string& name) {
    if (pattern == "*") return true;
    const size_t star = pattern.find('*');
    if (star == std::string::npos) return pattern == name;
    return name.rfind(pattern.substr(0, star), 0) == 0;
}

// The entries directly in a real folder.
std::vector<std::string> NamesIn(const std::string& real) {
    std::vector<std::string> names;
    const std::string prefix = real == "/" ? "/" : real + "/";
    for (const auto& [path, node] : current->nodes) {
        if (path.rfind(prefix, 0) == 0 && path.size() > prefix.size() &&
            path.find('/', prefix.size()) == std::string::npos) {
            names.push_back(path.substr(prefix.size()));
        }
    }
    return names;
}

WalkItem Inspect(const std::string& path) {
    WalkItem item;
    item.path = path;
    const MemoryNode* node = At(Real(path, false));
    if (!node) return item;
    item.exists = true;
    item.link = node->kind == 'l';
    const MemoryNode* named = item.link ? At(Real(path, true)) : node;
    item.folder = named && named->kind == 'd';
    return item;
}

bool List(const std::string& folder, const std::string& pattern, std::vector<WalkItem>* items) {
    if (!Allowed()) return false;
    const std::string real = Real(folder, true);
    const MemoryNode* node = At(real);
    if (!node || node->kind != 'd') return false;
    for (const std::string& name : NamesIn(real)) {
        if (Matches(pattern, name)) items->push_back(Inspect(Join(folder, name)));
    }
    return true;
}

bool Identify(const std::string& path, ItemIdentity* identity) {
    if (!Allowed()) return false;
    const std::string real = Real(path, true);
    const MemoryNode* node = At(real);
    if (!node) return false;
    *identity = {static_cast<uint64_t>(VolumeOf(real)), static_cast<uint64_t>(node->id)};
    return true;
}

std::string TargetFor(void*, const std::string& folder, const std::string& name) {
    return Join(folder, name);
}

// Moves every entry at or below `from` to `to`.
void Carry(const std::string& from, const std::string& to) {
    std::map<std::string, MemoryNode> moved;
    for (auto entry = current->nodes.begin(); entry != current->nodes.end();) {
        if (entry->first == from || entry->first.rfind(from + "/", 0) == 0) {
            moved[to + entry->first.substr(from.size())] = entry->second;
            entry = current->nodes.erase(entry);
        } else {
            ++entry;
        }
    }
    current->nodes.insert(moved.begin(), moved.end());
}

// As rename(2): a folder only onto nothing or an empty folder, anything else
// onto nothing, a file or a link.
Renamed Rename(const WalkItem& item, const WalkItem& target) {
    if (!Allowed()) return Renamed::kFailed;
    const std::string from = Real(item.path, false), to = Real(target.path, false);
    const MemoryNode* source = At(from);
    const MemoryNode* parent = At(ParentOf(to));
    if (!source || !parent || parent->kind != 'd') return Renamed::kFailed;
    if (VolumeOf(from) != VolumeOf(to)) return Renamed::kOtherVolume;
    if (const MemoryNode* there = At(to)) {
        if (from == to) return Renamed::kDone;
        if ((source->kind == 'd') != (there->kind == 'd')) return Renamed::kFailed;
        if (there->kind == 'd' && !NamesIn(to).empty()) return Renamed::kFailed;
        current->nodes.erase(to);
    }
    Carry(from, to);
    return Renamed::kDone;
}

// Replaces what is at `to`, never a folder; false when it cannot.
bool Place(const std::string& path, const MemoryNode& node) {
    const std::string to = Real(path, false);
    const MemoryNode* parent = At(ParentOf(to));
    const MemoryNode* there = At(to);
    if (!parent || parent->kind != 'd' || (there && there->kind == 'd')) return false;
    current->nodes[to] = node;
    return true;
}

bool CopyFile(const WalkItem& item, const WalkItem& target) {
    if (!Allowed()) return false;
    const MemoryNode* source = At(Real(item.path, true));
    if (!source || source->kind != 'f') return false;
    return Place(target.path, {'f', source->data, nextId++});
}

bool CopyLink(const WalkItem& item, const WalkItem& target) {
    if (!Allowed()) return false;
    const MemoryNode* source = At(Real(item.path, false));
    if (!source || source->kind != 'l') return false;
    return Place(target.path, {'l', source->data, nextId++});
}

bool Remove(const WalkItem& item) {
    if (!Allowed()) return false;
    const std::string real = Real(item.path, false);
    const MemoryNode* node = At(real);
    if (!node || (node->kind == 'd' && !NamesIn(real).empty())) return false;
    current->nodes.erase(real);
    return true;
}

bool MakeFolder(const std::string& path) {
    if (!Allowed()) return false;
    const std::string real = Real(path, false);
    const MemoryNode* parent = At(ParentOf(real));
    if (!parent || parent->kind != 'd' || At(real)) return false;
    current->nodes[real] = {'d', "", nextId++};
    return true;
}

std::string Describe() {
    return "made to fail";
}

const ItemAccess kMemoryItems = {
    '/', List, Inspect, Identify, TargetFor, Rename, CopyFile, CopyLink, Remove, MakeFolder, true, nullptr, Describe,
};

}  // namespace

MemoryItems::MemoryItems() {
    current = this;
    Clear();
}

void MemoryItems::Clear() {
    calls = 0;
    failAt = 0;
    nodes.clear();
    nodes["/"] = {'d', "", nextId++};
    nodes["/other"] = {'d', "", nextId++};
}

MemoryItems::~MemoryItems() {
    current = nullptr;
}

void MemoryItems::File(const std::string& path, const std::string& bytes) {
    Folder(ParentOf(path));
    nodes[path] = {'f', bytes, nextId++};
}

void MemoryItems::Folder(const std::string& path) {
    if (path != "/") Folder(ParentOf(path));
    if (!nodes.count(path)) nodes[path] = {'d', "", nextId++};
}

void MemoryItems::Link(const std::string& path, const std::string& target) {
    Folder(ParentOf(path));
    nodes[path] = {'l', target, nextId++};
}

void MemoryItems::HardLink(const std::string& existing, const std::string& path) {
    Folder(ParentOf(path));
    nodes[path] = nodes.at(existing);
}

void MemoryItems::FailCall(int call) {
    calls = 0;
    failAt = call;
}

int MemoryItems::Calls() const {
    return calls;
}

std::map<std::string, std::string> MemoryItems::Tree() const {
    std::map<std::string, std::string> tree;
    for (const auto& [path, node] : nodes) {
        std::string& entry = tree[path] = std::string(1, node.kind);
        if (node.kind != 'd') entry += " " + node.data;
    }
    return tree;
}

const ItemAccess& MemoryItems::Access() const {
    return kMemoryItems;
}
