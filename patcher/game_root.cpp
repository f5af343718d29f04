#include "game_root.h"

#include <cstring>
#include <string>

#include "path_format.h"
#include "platform.h"
#include "working_directory.h"

char* GameRoot = nullptr;

bool TakeGameRoot() {
    std::string directory;
    if (!QueryWorkingDirectory(&directory)) return false;
    const size_t size = directory.size() + 1 > kPathBufferSize ? directory.size() + 1 : kPathBufferSize;
    GameRoot = new char[size]();
    std::memcpy(GameRoot, directory.c_str(), directory.size() + 1);
    return true;
}

void SyncGameFolder() {
    if (GameRoot) Files().syncFileSystem(GameRoot);
}

void ReleaseGameRoot() {
    delete[] GameRoot;
    GameRoot = nullptr;
}
