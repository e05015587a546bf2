// The main routine: the whole life of the process, from the start-up line through the animation
// to the hand-off.
#pragma once

// Arguments are ignored. Always returns 0.
int animation_main(int argc, char** argv);
