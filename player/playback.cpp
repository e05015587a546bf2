#include "player/playback.h"

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "player/assets.h"
#include "player/threads.h"
#include "screen/bitmap.h"

bmp_image* current_image = nullptr;

namespace {

// Opens and converts every picture of the asset table in order; stops at the first that cannot
// be opened, leaving those before it prepared. A failed conversion is reported by
// prepare_bitmap itself and leaves an empty picture that draws nothing; playing goes on.
bool load_assets() {
    for (const asset_entry& asset : asset_table) {
        current_image = bmp_open(*asset.path);
        if (current_image == nullptr) {
            perror("bmp_open");
            return false;
        }
        const int ignored = prepare_bitmap(current_image, asset.picture);
        (void)ignored;
        bmp_close(current_image);
        current_image = nullptr;
    }
    return true;
}

// Starts a thread with default attributes and no argument. pthread_create returns its error
// instead of setting errno, so it is put there for the report; otherwise perror would print
// whatever error came before.
bool start_thread(pthread_t* thread, void* (*body)(void*)) {
    const int error = pthread_create(thread, nullptr, body, nullptr);
    if (error != 0) {
        errno = error;
        perror("create ui thread\n");
        return false;
    }
    return true;
}

}  // namespace

void animation_phase() {
    if (!load_assets()) {
        return;
    }
    pthread_t ui_thread;
    if (!start_thread(&ui_thread, ui_thread_function)) {
        return;
    }
    pthread_t worker_thread;
    if (!start_thread(&worker_thread, worker_thread_function)) {
        // The UI thread already writes to the screen: it must end before the screen is released.
        EXIT_RECOVERY.store(1);
        pthread_join(ui_thread, nullptr);
        return;
    }
    pthread_join(worker_thread, nullptr);
    EXIT_RECOVERY.store(1);
    pthread_join(ui_thread, nullptr);
}

void draw_cycle(int frame) {
    // The title goes everywhere but where the frame is about to go: that part of a screen that
    // is being scanned out never shows the bare title in between.
    const prepared_bitmap* picture = animation_frames[frame];
    draw_prepared_bitmap_around(&background, kTitleX, kTitleY, picture, kFrameX, kFrameY);
    draw_prepared_bitmap(picture, kFrameX, kFrameY);
}

void animation_release() {
    if (current_image != nullptr) {
        bmp_close(current_image);
        current_image = nullptr;
    }
    if (background.pixels != nullptr) {
        free(background.pixels);
        background = prepared_bitmap{};
    }
}
