// Process entry: runs the main routine and exits with its result.
#include <cstdio>

#include "player/animation.h"

int main(int argc, char** argv) {
    // On the device the program plays until it is stopped from outside, so it never reaches the
    // exit that would flush a fully buffered standard output (a pipe or a log file): line
    // buffering keeps every progress line, the thread start lines included.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    return animation_main(argc, argv);
}
