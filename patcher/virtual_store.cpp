#include "virtual_store.h"

#include "migration_steps.h"
#include "path_format.h"

const char* const kVirtualStoreCaption = "Q8R Patcher";

namespace {

const char* const kVirtualStoreText =
    "The game lies under Program Files, and Windows keeps the game's newer saves and settings for you in\n\n"
    "%s\n\n"
    "The patcher, run as administrator, would see only the older files in the game folder and migrate "
    "those. Nothing was changed.\n\n"
    "Move the game out of Program Files (for example to C:\\Games\\Thief2), copy the files of the folder "
    "above into it, correct install_path in its Darkinst.cfg, and start the patcher there without "
    "administrator rights.";

char Folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `path` is `folder` or lies inside it.
bool Inside(const std::string& path, std::string folder) {
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    if (folder.empty() || path.size() < folder.size()) return false;
    for (size_t i = 0; i < folder.size(); ++i) {
        if (Folded(path[i]) != Folded(folder[i])) return false;
    }
    return path.size() == folder.size() || path[folder.size()] == '\\';
}

}  // namespace

std::string VirtualStoreTwin(const std::string& gameRoot, const std::string& localAppData,
                             const std::vector<std::string>& programFolders) {
    const bool onDrive = gameRoot.size() > 3 && gameRoot[1] == ':' && gameRoot[2] == '\\';
    if (!onDrive || localAppData.empty()) return std::string();
    for (const std::string& folder : programFolders) {
        if (Inside(gameRoot, folder)) {
            std::string store = localAppData;
            while (!store.empty() && store.back() == '\\') store.pop_back();
            return store + "\\VirtualStore\\" + gameRoot.substr(3);
        }
    }
    return std::string();
}

bool TwinHoldsMigratedItems(const std::string& twin, bool (*exists)(const char* path)) {
    char path[kPathBufferSize];
    for (const char* item : kConfigItems) {
        if (FormatPath(path, "%s\\%s", twin.c_str(), item) && exists(path)) return true;
    }
    return false;
}

std::string VirtualStoreMessage(const std::string& twin) {
    const std::string text = kVirtualStoreText;
    const size_t mark = text.find("%s");
    return text.substr(0, mark) + twin + text.substr(mark + 2);
}
