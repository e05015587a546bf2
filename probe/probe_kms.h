// The probe's look at the KMS display, where /dev/graphics/fb0 does not exist and the player
// looks for one: the card is opened read-only and only asked (its resources, connectors,
// encoders and CRTC), so no other program's hold on the display matters. It sets no mode and
// makes no buffer; only a display the kernel has found nothing for yet, which shows nothing, is
// probed.
#pragma once

#include "probe/probe_screen.h"

// Prints the card, its connectors and their state, the display the player would take and its
// layout, and that the display must be free for the player. Returns the screen the player
// would draw on (failed: none, the variable description and a packed fixed one), or failed:
// open when there is no display to play on.
probe_screen probe_kms_screen();
