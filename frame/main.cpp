// frame/main.cpp: the process entry of the game.
#include <cstdio>
#include <cstring>

#include "frame/demo.h"
#include "frame/game.h"

namespace {
const char USAGE[] =
    "usage: polydrive [--record-demo FILE | --play-demo FILE]\n"
    "  --record-demo FILE  play as usual and write the keys of every frame to FILE\n"
    "  --play-demo FILE    show a recorded demo (Escape ends it)\n";
}  // namespace

int main(int argc, char **argv) {
    const char *record = nullptr, *play = nullptr;
    for (int i = 1; i < argc; i++) {
        const bool takes_file = std::strcmp(argv[i], "--record-demo") == 0 || std::strcmp(argv[i], "--play-demo") == 0;
        if (!takes_file || i + 1 >= argc) {
            std::fputs(USAGE, stderr);
            return 2;
        }
        (argv[i][2] == 'r' ? record : play) = argv[i + 1];
        i++;
    }
    if (record != nullptr && play != nullptr) {
        std::fputs("polydrive: --record-demo and --play-demo cannot be combined\n", stderr);
        return 2;
    }
    if (record != nullptr) demo_record_to(record);
    if (play != nullptr) demo_play_from(play);
    game_main();
    return 0;
}
