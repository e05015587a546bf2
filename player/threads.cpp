#include "player/threads.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "player/assets.h"
#include "player/playback.h"
#include "screen/screen.h"

std::atomic<int> EXIT_RECOVERY{0};

namespace {

// pthread_t is an integer type on glibc and bionic; printed as the unsigned long it fits in.
unsigned long own_thread_id() {
    return static_cast<unsigned long>(pthread_self());
}

}  // namespace

void* ui_thread_function(void*) {
    printf("ui_thread_function() %lu started.\n", own_thread_id());
    memset(fbmem, 0, static_cast<size_t>(buffersize));
    int i = 0;
    while (EXIT_RECOVERY.load() == 0) {
        draw_cycle(i);
        screen_present();  // what the cycle drew is what the panel shows while the thread sleeps
        usleep(kFramePeriodUs);
        i = (i + 1) % kFrameCount;
    }
    puts("ui_thread_function() exit.");
    return nullptr;
}

void* worker_thread_function(void*) {
    printf("worker_thread_function() %lu started.\n", own_thread_id());
    for (;;) {
        // Strict POSIX caps usleep below one second; glibc and bionic sleep the whole period.
        // cppcheck-suppress invalidFunctionArg ; see above
        usleep(kWorkerIdleUs);
    }
}
