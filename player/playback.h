// The animation phase: loads and converts the seven pictures, plays them on the UI thread while
// the worker thread idles, and stops the UI thread when the worker ends. Runs on the main thread
// between the mapping of the screen and the cleanup.
#pragma once

#include "image/bmplib.h"

// The picture being loaded, null when none is open. Outlives an early return of the phase so
// that the release step can close what is still open.
extern bmp_image* current_image;

// Needs a mapped screen. Returns when a picture cannot be opened ("bmp_open"), when a thread
// cannot be created ("create ui thread\n"), both reported on standard error, or once both
// threads have ended. Whenever it returns, no thread of the program but the caller runs.
void animation_phase();

// Called from the cleanup, after the screen is released: closes a picture still open and frees
// the title's pixels. The six frames' pixels are left to process exit.
void animation_release();

// Draws what one cycle of the animation puts on the screen: the title at its position, then
// frame `frame` (0 to 5) over it at the frame position, both cut at the screen's edges. The
// title is copied around the frame's place, never into it, so the frame's part of the screen
// goes straight from one frame to the next. The UI thread draws every cycle through it, and so
// does the preview of a media folder.
void draw_cycle(int frame);
