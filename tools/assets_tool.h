// zelt-assets: checks a media folder the way the program loads it, and previews what the
// screen shows, with the program's own asset table, reader, conversion and drawing code.
// Shared by the tool's verbs only.
#pragma once

#include <string>

#include "check/media_check.h"
#include "check/screen_format.h"

// Writes `out`/cycle-0.png ... cycle-5.png and `out`/index.html. Returns one of the exit
// statuses, after a one-line report on standard error for anything but kExitPlays.
// The screen is read the way `screen` describes it (rows line_length apart, the visible page at
// its offsets, channels where its fields put them); memory the program never writes is black.
int assets_preview(const std::string& dir, const std::string& out,
                   const screen_description& screen);
