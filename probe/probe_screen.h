// The probe's look at the framebuffer: the two descriptions the driver gives, read through a
// read-only handle (no mapping, no mode change, no panning), and what each of their facts means
// for the player, which lays its pictures out by the same rule it uses on the device
// (screen_layout_for): rows the driver's line_length apart, on the shown page, each colour at
// its channel field, as far as the driver's memory holds that page.
#pragma once

#include <linux/fb.h>

#include <string>

#include "screen/screen_layout.h"

// The step of reading the screen that failed.
enum class probe_step { none, open, describe, describe_fixed };

// What the driver said, or why it could not be asked.
struct probe_screen {
    probe_step failed;  // none: the device opened and both descriptions were read
    int error;          // the failed step's errno
    fb_var_screeninfo var;
    fb_fix_screeninfo fix;
    // What the player maps and where it draws there (screen_layout_for), when both were read.
    screen_layout layout;
    int laid_out;  // screen_layout_for's result: 0, or -1 when the player cannot map it
};

// Opens "/dev/graphics/fb0" read-only, reads both descriptions, closes it.
probe_screen probe_read_screen();

// Prints what went wrong when the screen could not be described, with what the player does then.
void probe_report_unreadable(const probe_screen& screen);

// Prints the driver's fields, then one line per fact the player depends on: "ok: ..." or
// "wrong: ..." with what the person will see and the numbers. Appends a short name of each
// wrong fact to `faults`.
void probe_judge_screen(const probe_screen& screen, std::string* faults);

// Why `zelt-assets preview` cannot show what a screen the probe could describe will display
// (a depth it does not draw, a mapping the player cannot make, a colour map), or null when it
// can.
const char* probe_preview_gap(const probe_screen& screen);

// Adds `name` to `faults`, the "; "-separated list of wrong facts that the verdict names; an
// empty list means the player shows its pictures as intended.
void probe_add_fault(std::string* faults, const std::string& name);
