// The watcher: with ZELT_DOUBLE_WATCH="X,Y" set, a thread of the double's own reads the 32-bit
// pixel at (X, Y) of the shown page over and over from the moment the screen is mapped until it
// is unmapped, and logs every value it sees change to ("watch 0xAARRGGBB"): what a display
// scanning the memory at random moments could show there.
#include <linux/fb.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "tests/double/device_double.h"

namespace {

std::atomic<bool> g_stop{false};
pthread_t g_thread;
bool g_running = false;  // touched only by the mapping and unmapping thread

void* watch(void* arg) {
    const auto* pixel = static_cast<const uint32_t*>(arg);
    uint32_t last = __atomic_load_n(pixel, __ATOMIC_RELAXED);
    double_log("watch 0x%08x", last);
    while (!g_stop.load()) {
        const uint32_t now = __atomic_load_n(pixel, __ATOMIC_RELAXED);
        if (now != last) {
            double_log("watch 0x%08x", now);
            last = now;
        }
        sched_yield();
    }
    return nullptr;
}

}  // namespace

void double_watch_start(uint8_t* mapping, size_t length) {
    const char* where = std::getenv("ZELT_DOUBLE_WATCH");
    unsigned x = 0;
    unsigned y = 0;
    if (where == nullptr || std::sscanf(where, "%u,%u", &x, &y) != 2) {
        return;
    }
    const fb_var_screeninfo& s = double_screen();
    const uint64_t at = (uint64_t{s.yoffset} + y) * double_fixed_screen().line_length +
                        (uint64_t{s.xoffset} + x) * 4;
    if (s.bits_per_pixel != 32 || at % 4 != 0 || at + 4 > length) {
        double_log("watch (%u,%u) not on a mapped 32-bit pixel", x, y);
        return;
    }
    // The real pthread_create: the watcher is no thread of the program's.
    const auto real_create = DOUBLE_REAL(pthread_create);
    g_stop.store(false);
    g_running = real_create(&g_thread, nullptr, watch, mapping + at) == 0;
}

void double_watch_stop() {
    if (g_running) {
        g_stop.store(true);
        const auto real_join = DOUBLE_REAL(pthread_join);  // not the program's: not logged
        real_join(g_thread, nullptr);
        g_running = false;
    }
}
