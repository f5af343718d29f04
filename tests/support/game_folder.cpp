#include "support/game_folder.h"

#include <algorithm>


const std::vector<std::string> kGameConfigItems = {
    "cam.cfg", "dark.cfg", "install.cfg", "user.cfg", "motiondb.bin", "lgvid.ax", "user.bnd", "dark.bnd", "saves",
};

const std::vector<std::string> kGameVoiceFolders = {
    "cop1", "cop2", "cop3", "femalemech", "femalenoble", "femalenoble2", "femaleservant", "guard1",
    "guard2", "guard3", "hammer1", "hammer2", "hammer3", "kedar", "malak", "malemech",
    "malenoble", "maleservant", "smug1", "smug2", "smug3", "truart", "zaya",
};

namespace {

// The configuration items that are files.
const std::vector<std::string> kRootFiles(kGameConfigItems.begin(), kGameConfigItems.end() - 1);

}  // namespace

void LayOutV10Game(const ScratchFolder& game) {
    game.Write("thief2.exe", "game");
    game.Write("q8r.exe", "v1.0 launcher");
    for (const std::string& item : kRootFiles) game.Write(item, "root " + item);
    game.Write("saves/save_0/game.sav", "save 0");
    game.Write("saves/save_1/game.sav", "save 1");
    game.Write("q8r/books/english/book1.str", "book 1");
    game.Write("q8r/books/english/letters/note.str", "note");
    game.Write("q8r/strings/english/objectives.str", "goals");
    game.Write("q8r/strings/english/objnames.str", "names");
    for (const std::string& voice : kGameVoiceFolders) {
        game.Write("q8r/snd/" + voice + "/english/line.wav", "voice " + voice);
        game.Write("q8r/snd/" + voice + "/english/alert.wav", "alert " + voice);
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
    for (const std::string& item : kRootFiles) {
        tree.push_back(item);
        tree.push_back("q8r/" + item);
    }
    for (const std::string& voice : kGameVoiceFolders) {
        const std::string folder = "q8r/snd/" + voice + "/";
        tree.push_back(folder);
        tree.push_back(folder + "english/");
        tree.push_back(folder + "line.wav");
        tree.push_back(folder + "alert.wav");
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}
