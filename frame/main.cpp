// frame/main.cpp: the process entry of the game.
#include "frame/game.h"

int main() {
    game_main();
    return 0;
}
