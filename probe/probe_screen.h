// The probe's look at the framebuffer: the two descriptions the driver gives, read through a
// read-only handle (no mapping, no mode change, no panning), and what each of their facts means
// for the player, which lays its pictures out by the same rule it uses on the device
// (screen_layout_for): rows the driver's line_length apart, on the shown page, each colour at
// its channel field, as far as the driver's memory holds that page.
#pragma once

#include <linux/fb.h>

#include <string>

// The step of reading the screen that failed.
enum class probe_step { none, open, describe, describe_fixed };

// What the driver said, or why it could not be asked.
struct probe_screen {
    probe_step failed;  // none: the device opened and both descriptions were read
    int error;          // the failed step's errno
    fb_var_screeninfo var;
    fb_fix_screeninfo fix;
};

// Opens "/dev/graphics/fb0" read-only, reads both descriptions, closes it.
probe_screen probe_read_screen();

// Prints what went wrong when the screen could not be described, with what the player does then.
void probe_report_unreadable(const probe_screen& screen);

// Prints the driver's fields, then one line per fact the player depends on: "ok: ..." or
// "wrong: ..." with what the person will see and the numbers. Appends a short name of each
// wrong fact to `faults`.
void probe_judge_screen(const probe_screen& screen, std::string* faults);

// Adds `name` to `faults`, the "; "-separated list of wrong facts that the verdict names; an
// empty list means the player shows its pictures as intended.
void probe_add_fault(std::string* faults, const std::string& name);
