// The process's one connection to the display: the framebuffer device, its screen description
// and a shared mapping of its pixels. Opened, described and mapped once by the main routine
// before any other thread exists; read-only afterwards (only the pixels behind fbmem are
// written, by the UI thread); released once in the main routine's cleanup block.
#pragma once

#include <linux/fb.h>

#include <cstdint>

#include "screen/screen_layout.h"

extern int fbfd;                 // device handle; negative means not open (starts at -1)
extern fb_var_screeninfo fbvar;  // screen description as the driver returns it (starts zeroed)
extern fb_fix_screeninfo fbfix;  // the driver's fixed description; zeroed when it gave none
extern screen_layout fblayout;   // row pitch and shown page within the mapping
extern uint8_t* fbmem;           // mapped screen memory; null means not mapped
extern int buffersize;           // length of the mapping in bytes (starts at 0)

// Each step returns 0 on success and -1 on failure with errno set; the caller reports it.
int screen_open();            // opens "/dev/graphics/fb0" read-write into fbfd
int screen_describe();        // fills fbvar through FBIOGET_VSCREENINFO
void screen_report();         // prints the five-line description block to standard output
int screen_describe_fixed();  // fills fbfix through FBIOGET_FSCREENINFO (zeroed on failure)
// Lays the screen out (screen_layout_for with fbvar and fbfix, which is zeroed when the driver
// gave no fixed description: packed rows from offset 0) into fblayout and buffersize; fails
// (EOVERFLOW, EINVAL) when it cannot be mapped.
int screen_size();
int screen_map();  // maps buffersize bytes of the device from offset 0 into fbmem
// Tells the driver to show the page drawn, which holds a new picture: FBIOPAN_DISPLAY with fbvar
// as the driver returned it, so the page does not move, except that a fallback layout (the
// first page, from offset 0) names that page (screen_pan_request). Panels that show the memory
// only when asked need it; a driver without panning, or whose pan steps the page's offsets are
// not multiples of, refuses (EINVAL), which is fine. Any other failure is reported once per run
// ("fb0 dev pan"). On the KMS display: kms_present(). Called by the UI thread after each
// cycle's drawing.
void screen_present();
void screen_release();  // unmaps fbmem if mapped, then closes fbfd if open (the KMS display:
                        // kms_release)
