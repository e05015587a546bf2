// A small program that uses the device the way the animation does (a media file, the mapped
// screen, a UI thread that draws and sleeps, an idle worker that never ends), so that the
// double's threads, clock and media folder are tested on their own.
#include <fcntl.h>
#include <linux/fb.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

// The checked opens a fortified build calls (the probe itself is built without FORTIFY).
extern "C" int __open_2(const char* path, int flags);
#if !defined(__BIONIC__)
extern "C" int __open64_2(const char* path, int flags);
#endif

namespace {

constexpr useconds_t kFrameUs = 500000;
constexpr useconds_t kIdleUs = 30000000;

std::atomic<int> g_stop{0};
uint8_t* g_screen = nullptr;
size_t g_screen_bytes = 0;

// Fills the whole screen with the number of the frame being shown: 1, 2, 3, ...
void* ui_thread(void*) {
    uint8_t frame = 0;
    while (g_stop.load() == 0) {
        ++frame;
        std::memset(g_screen, frame, g_screen_bytes);
        usleep(kFrameUs);
    }
    std::puts("ui exit");
    return nullptr;
}

void* worker_thread(void*) {
    for (;;) {
        usleep(kIdleUs);
    }
}

void print_media() {
    FILE* f = std::fopen("/ZELT/media/probe.txt", "rb");
    if (f == nullptr) {
        std::perror("media");
        return;
    }
    char text[64];
    const size_t n = std::fread(text, 1, sizeof text, f);
    std::fclose(f);
    std::printf("media: %.*s\n", static_cast<int>(n), text);
}

void play() {
    pthread_t ui;
    pthread_t worker;
    if (pthread_create(&ui, nullptr, ui_thread, nullptr) != 0) {
        std::puts("ui not created");
        return;
    }
    if (pthread_create(&worker, nullptr, worker_thread, nullptr) != 0) {
        std::puts("worker not created");
        g_stop.store(1);
        pthread_join(ui, nullptr);
        return;
    }
    pthread_join(worker, nullptr);
    g_stop.store(1);
    pthread_join(ui, nullptr);
}

// Prints the screen as the double describes it: size, depth and each channel's offset/length.
void print_screen(const fb_var_screeninfo& s) {
    std::printf("%ux%ux%u red %u/%u green %u/%u blue %u/%u\n", s.xres, s.yres, s.bits_per_pixel,
                s.red.offset, s.red.length, s.green.offset, s.green.length, s.blue.offset,
                s.blue.length);
}

// Opens each path through each open of the C library and prints "ENTRY PATH: ok" or the error.
int open_each(int count, char** paths) {
    const struct {
        const char* name;
        int (*open)(const char*, int);
    } entries[] = {
        {"open", [](const char* p, int f) { return open(p, f); }},
        {"__open_2", __open_2},
#if !defined(__BIONIC__)
        {"__open64_2", __open64_2},
#endif
    };
    for (const auto& entry : entries) {
        for (int i = 0; i < count; ++i) {
            const int fd = entry.open(paths[i], O_RDWR);
            std::printf("%s %s: %s\n", entry.name, paths[i], fd >= 0 ? "ok" : std::strerror(errno));
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    return 0;
}

}  // namespace

// With the argument "describe" the probe only prints the screen's description; with "open"
// it opens the paths that follow.
int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "open") == 0) {
        return open_each(argc - 2, argv + 2);
    }
    const bool describe = argc > 1 && std::strcmp(argv[1], "describe") == 0;
    if (!describe) {
        print_media();
    }
    const int fd = open("/dev/graphics/fb0", O_RDWR);
    fb_var_screeninfo screen{};
    if (fd < 0 || ioctl(fd, FBIOGET_VSCREENINFO, &screen) < 0) {
        std::perror("fb0");
        return 1;
    }
    if (describe) {
        print_screen(screen);
        close(fd);
        return 0;
    }
    g_screen_bytes = static_cast<size_t>(screen.xres) * screen.yres * (screen.bits_per_pixel / 8);
    void* mapping = mmap(nullptr, g_screen_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        std::perror("mmap");
        return 1;
    }
    g_screen = static_cast<uint8_t*>(mapping);
    play();
    munmap(mapping, g_screen_bytes);
    close(fd);
    return 0;
}
