// What a screen really shows of the memory the program draws into. The program lays its screen
// out as xres x yres pixels packed back to back from the start of the memory; a screen whose
// rows are further apart, or whose visible page starts elsewhere, scans the same bytes
// differently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "check/screen_format.h"

// Fills `visible` with the visible page of `screen`, xres x yres pixels of depth / 8 bytes packed
// back to back, as the screen reads them from memory that holds `written` (`size` bytes, the
// program's own drawing) at its start and zeros after it: row y starts at byte
// (yoffset + y) x line_length + xoffset x (depth / 8) (a line_length of 0 is the packed row).
void screen_scan(const screen_description& screen, const uint8_t* written, size_t size,
                 std::vector<uint8_t>* visible);
