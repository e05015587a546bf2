// The display reached through the kernel's mode setting (KMS), for devices with no framebuffer
// device: a 32-bit dumb buffer scanned out by a CRTC. Taken once by the main routine before any
// other thread exists, presented by the UI thread after each cycle, released once in the main
// routine's cleanup. Module state lives in kms.cpp; what drawing needs goes into the screen
// state of screen.h, so that the drawing code does not learn which kind of screen it has.
#pragma once

// Takes the display kms_find() chooses: prints the description block and one line naming the
// card, connector, mode and CRTC; saves the CRTC's state with the connectors it drives; creates a
// dumb buffer of the mode's size with a framebuffer on it, maps it and sets the CRTC to scan it
// out. Fills fbvar (the mode's size, 32 bits, red 16/8, green 8/8, blue 0/8), fblayout (the
// buffer's pitch, origin 0), fbmem and buffersize. On failure prints one line naming the step,
// releases what it took and returns false.
bool kms_connect();

// Whether kms_connect() holds a card (until kms_release()).
bool kms_held();

// Tells the card the whole framebuffer changed: drivers with a shadow or a remote display show
// nothing new without it. A driver that has nothing to do is fine; any other failure is
// reported once. For the UI thread, after each cycle.
void kms_present();

// Undoes what is held, in the reverse order of kms_connect(): puts the CRTC back as it was
// (its framebuffer on the connectors it drove, or off), removes
// the framebuffer, unmaps fbmem, destroys the dumb buffer, closes the card.
void kms_release();
