// zelt-assets: checks a media folder the way the program loads it, and previews what the
// screen shows, with the program's own asset table, reader, conversion and drawing code.
// Shared by the tool's verbs only.
#pragma once

#include <linux/fb.h>

#include <cstdint>
#include <string>

#include "check/media_check.h"
#include "check/screen_format.h"

// Writes `out`/cycle-0.png ... cycle-5.png and `out`/index.html. Returns one of the exit
// statuses, after a one-line report on standard error for anything but kExitPlays.
// The screen is read the way `screen` describes it (rows line_length apart, the visible page at
// its offsets, channels where its fields put them); memory the program never writes is black.
int assets_preview(const std::string& dir, const std::string& out,
                   const screen_description& screen);

// Creates `out` if missing; reports on standard error and returns false when it is not a
// writable folder.
bool prepare_output(const std::string& out);

// What `zelt-assets make` is asked to do besides converting.
struct make_options {
    bool fit = false;         // scale each picture to the screen
    uint32_t background = 0;  // 0x00RRGGBB under pixels that are not fully opaque
};

// Parses RRGGBB (six hexadecimal digits). Returns false for anything else.
bool parse_background(const char* text, uint32_t* color);

// Writes `out`/zelttitle.bmp ... zeltani05.bmp from the PNG (or BMP) sources in `src`, each
// verified through the program's reader and conversion for `screen`, then prints the check
// lines for `out`. Returns kExitPlays, kExitStopsLoading (a source missing or unreadable, or a
// verification failed; the others are still written) or kExitUsage (unwritable `out`, or no
// room for the frames on `screen` with --fit).
int assets_make(const std::string& src, const std::string& out, const fb_var_screeninfo& screen,
                const make_options& options);
