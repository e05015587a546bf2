#include "player/animation.h"

int animation_main(int, char**) {
    return 0;
}
