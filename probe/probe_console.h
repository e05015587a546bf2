// The probe's look at the kernel's text consoles: one bound to the framebuffer draws its cursor
// and messages into the same memory as the player. Only read, never unbound.
#pragma once

// Prints a "note:" line for each framebuffer console that is bound, with the command that
// unbinds it. Prints nothing when there is none (or no sysfs to ask).
void probe_note_consoles();
