// The media-folder check shared by `zelt-assets check` on the host and `zelt-probe` on the
// device: each picture of the asset table, in loading order, opened with the program's own
// reader and measured against a screen at the place it is drawn. Needs no library beyond the
// program's own, so it builds wherever the program does.
#pragma once

#include <linux/fb.h>

#include <string>

#include "image/bmplib.h"

// Exit statuses of the tools that report on a media folder.
constexpr int kExitPlays = 0;  // the program would load every picture and play
// The program would stop at loading or show a picture cut short (or preview failed).
constexpr int kExitStopsLoading = 1;
constexpr int kExitUsage = 2;  // bad arguments, missing folder, unwritable output

// File name of asset `index` (0 the title, 1 to 6 the frames), as the table's path ends.
std::string asset_file_name(int index);

// `dir`/`name`.
std::string folder_path(const std::string& dir, const std::string& name);

// What is at `path`, found without opening it (opening a FIFO waits for a writer): nothing, a
// regular file (or a symlink to one), a symlink to nothing, or another kind of entry, whose name
// ("a FIFO", "a directory", ...) goes to `*name`.
enum class entry_kind { absent, regular, dangling_link, other };
entry_kind entry_at(const std::string& path, std::string* name);

// Whether an entry that entry_at found (`name` as it gave it) can be opened as a picture: a
// regular file; else the reason in `*why` ("not a regular file (a FIFO)", "a symlink to
// nothing (...)"). An absent entry is left to the open, which names it.
bool entry_readable(entry_kind entry, const std::string& name, std::string* why);

// The kind of file that starts with the bytes `a` and `b` (-1 where the file ends before them),
// for a file that is not what its name says: "a PNG file", "a JPEG file", "a BMP file", "an OS/2
// bitmap array, icon or pointer", "an empty file"; null when the two bytes do not tell.
const char* file_kind(int a, int b);

// Opens the picture at `path` with the program's reader as the program does, except that an
// entry that is not a regular file is named without being opened. Returns null with the reason
// in `*why` (refusal_text, or what the entry is; for a missing picture with a PNG of the same
// name beside it, a pointer to zelt-assets make).
bmp_image* open_picture(const std::string& path, bmp_seen* seen, std::string* why);

// Why the reader refused a picture, from the errno bmp_open_seen left and what it saw: the kind
// of file in plain words with what to do instead (another format under a .bmp name, an OS/2
// header, a depth or compression the reader does not take), else the system's error text with
// a hint for the reader's own codes.
std::string refusal_text(int error, const bmp_seen& seen);

// Whether an opened picture's file ended before its pixel data did (the reader shows the
// missing rows black), and a text naming how much is missing: "cut short: the top 3 of 4 rows
// are missing (...), shown black".
bool is_cut_short(const bmp_seen& seen);
std::string cut_short_text(const bmp_seen& seen);

// One line per asset on standard output, then a result line. The pictures are read from `dir`,
// or, when `dir` is empty, from the table's own paths on the device, exactly as the program
// opens them, and sized for `screen` by the program's own rule (prepared_size). Returns
// kExitPlays, or kExitStopsLoading when loading would stop, a picture is too large to be drawn
// or is cut short; then a short summary ("loading stops at zeltani02.bmp", "zeltani04.bmp not
// drawn", "zeltani03.bmp cut short") goes to `*fault` when `fault` is not null.
int assets_check(const std::string& dir, const fb_var_screeninfo& screen,
                 std::string* fault = nullptr);
