// Process entry: runs the main routine and exits with its result.
#include "player/animation.h"

int main(int argc, char** argv) {
    return animation_main(argc, argv);
}
