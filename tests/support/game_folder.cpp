#include "support/game_folder.h"

#include <algorithm>

#include "migration_steps.h"

namespace {

const char* const kRootFiles[] = {
    "cam.cfg", "dark.cfg", "install.cfg", "user.cfg", "motiondb.bin", "lgvid.ax", "user.bnd", "dark.bnd",
};

}  // namespace

void LayOutV10Game(const ScratchFolder& game) {
    game.Write("thief2.exe", "game");
    game.Write("q8r.exe", "v1.0 launcher");
    for (const char* item : kRootFiles) game.Write(item, std::string("root ") + item);
    game.Write("saves/save_0/game.sav", "save 0");
    game.Write("saves/save_1/game.sav", "save 1");
    game.Write("q8r/books/english/book1.str", "book 1");
    game.Write("q8r/books/english/letters/note.str", "note");
    game.Write("q8r/strings/english/objectives.str", "goals");
    game.Write("q8r/strings/english/objnames.str", "names");
    for (const char* voice : kVoiceFolders) {
        game.Write(std::string("q8r/snd/") + voice + "/english/line.wav", std::string("voice ") + voice);
        game.Write(std::string("q8r/snd/") + voice + "/english/alert.wav", std::string("alert ") + voice);
    }
    game.MakeFolder("q8r/movies");
}

std::vector<std::string> V11TreeOfLaidOutGame() {
    std::vector<std::string> tree = {
        "thief2.exe", "saves/", "saves/save_0/", "saves/save_0/game.sav", "saves/save_1/", "saves/save_1/game.sav",
        "q8r/", "q8r/saves/", "q8r/saves/save_0/", "q8r/saves/save_0/game.sav", "q8r/saves/save_1/",
        "q8r/saves/save_1/game.sav",
        "q8r/books/", "q8r/books/english/", "q8r/books/book1.str", "q8r/books/letters/", "q8r/books/letters/note.str",
        "q8r/strings/", "q8r/strings/english/", "q8r/strings/objectives.str", "q8r/strings/objnames.str", "q8r/snd/",
        "q8r/movies/",
    };
    for (const char* item : kRootFiles) {
        tree.push_back(item);
        tree.push_back(std::string("q8r/") + item);
    }
    for (const char* voice : kVoiceFolders) {
        const std::string folder = std::string("q8r/snd/") + voice + "/";
        tree.push_back(folder);
        tree.push_back(folder + "english/");
        tree.push_back(folder + "line.wav");
        tree.push_back(folder + "alert.wav");
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}
