// The media-folder check shared by `zelt-assets check` on the host and `zelt-probe` on the
// device: each picture of the asset table, in loading order, opened with the program's own
// reader and measured against a screen at the place it is drawn. Needs no library beyond the
// program's own, so it builds wherever the program does.
#pragma once

#include <linux/fb.h>

#include <string>

// Exit statuses of the tools that report on a media folder.
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

// One line per asset on standard output, then a result line. The pictures are read from `dir`,
// or, when `dir` is empty, from the table's own paths on the device, exactly as the program
// opens them. Returns kExitPlays or kExitStopsLoading; in the latter case the index of the
// picture where loading stops goes to `*stops_at` when `stops_at` is not null.
int assets_check(const std::string& dir, const fb_var_screeninfo& screen, int* stops_at = nullptr);
