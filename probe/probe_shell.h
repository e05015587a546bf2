// The probe's look at the hand-off: whether a command processor answers and whether a `start`
// command can be found on the shell's path. Nothing is ever run: `start` is only looked for.
#pragma once

#include <string>

// Prints one line on the shell and one on `start`. When there is no shell (the player then
// stops before opening the screen) appends that fault's name to `faults`.
void probe_judge_shell(std::string* faults);
