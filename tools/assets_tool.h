// zelt-assets: checks a media folder the way the program loads it, and previews what the
// screen shows, with the program's own asset table, reader, conversion and drawing code.
// Shared by the tool's verbs only.
#pragma once

#include <linux/fb.h>

#include <string>

// Exit statuses of the tool.
constexpr int kExitPlays = 0;         // the program would load every picture and play
constexpr int kExitStopsLoading = 1;  // the program would stop at loading (or preview failed)
constexpr int kExitUsage = 2;         // bad arguments, missing folder, unwritable output

// File name of asset `index` (0 the title, 1 to 6 the frames), as the table's path ends.
std::string asset_file_name(int index);

// `dir`/`name`.
std::string folder_path(const std::string& dir, const std::string& name);

// Why the reader refused a picture, from the errno bmp_open left: the system's error text,
// with a hint for the reader's own codes.
std::string refusal_text(int error);

// One line per asset of `dir` on standard output, then a result line. Returns kExitPlays or
// kExitStopsLoading.
int assets_check(const std::string& dir, const fb_var_screeninfo& screen);

// Writes `out`/cycle-0.png ... cycle-5.png and `out`/index.html. Returns one of the exit
// statuses, after a one-line report on standard error for anything but kExitPlays.
int assets_preview(const std::string& dir, const std::string& out, const fb_var_screeninfo& screen);
