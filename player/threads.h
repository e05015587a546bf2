// The two threads of the playing program and the one value they share while running.
#pragma once

#include <atomic>
#include <cstdint>

// Frames per second of the animation.
constexpr int FPS = 2;
// One cycle's sleep: the title and a frame are drawn, then the UI thread sleeps this long. The
// time spent drawing is not taken off it.
constexpr uint32_t kFramePeriodUs = 1000000 / FPS;
// The worker thread idles in steps of this length, without end.
constexpr uint32_t kWorkerIdleUs = 30000000;

// 0 while the animation plays; set once to 1 by the main thread to tell the UI thread to finish.
// The only value written while the threads run, hence atomic; no lock is taken anywhere.
extern std::atomic<int> EXIT_RECOVERY;

// Body of the UI thread, the only writer of the screen while it runs: clears the mapped screen
// once, then until EXIT_RECOVERY is set draws the title at its position and the next frame over
// it, tells the driver (screen_present), and sleeps one frame period. Reads the prepared pictures
// and the screen state, which the main thread finished writing before creating it. The argument is
// not used; returns null.
void* ui_thread_function(void* unused);

// Body of the worker thread: announces itself, then sleeps in idle steps and never returns.
// The argument is not used.
void* worker_thread_function(void* unused);
