// Code written the way the product is meant to be written: byte loads through memcpy, casts of
// raw bytes, C stdio, a function pointer per depth, POSIX threads, an atomic flag, the shell
// hand-off. The lint self-test fails when any check reports anything here, since such a check
// would fight the design rather than find faults.
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct picture {
    int32_t width;
    int32_t height;
    uint8_t* data;
    uint32_t (*getpixel)(const picture*, int32_t, int32_t);
};

constexpr uint32_t kHeaderBytes = 54;
constexpr uint32_t kMaxSide = 65535;
constexpr useconds_t kFramePeriodUs = 500000;
std::atomic<bool> exit_requested{false};

uint32_t load_u32(const uint8_t* p) {
    uint32_t v = 0;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint32_t getpixel_24bpp(const picture* image, int32_t x, int32_t y) {
    const size_t row = (static_cast<size_t>(image->width) * 3 + 3) & ~static_cast<size_t>(3);
    const uint8_t* p = image->data + static_cast<size_t>(y) * row + static_cast<size_t>(x) * 3;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16);
}

uint16_t to_rgb565(uint32_t color) {
    return static_cast<uint16_t>(((color >> 8) & 0xf800) | ((color >> 5) & 0x07e0) |
                                 ((color >> 3) & 0x001f));
}

int read_header(FILE* f, picture* image) {
    uint8_t header[kHeaderBytes];
    if (std::fread(header, 1, sizeof header, f) != sizeof header) {
        return -1;
    }
    if (header[0] != 'B' || header[1] != 'M') {
        return -1;
    }
    const uint32_t width = load_u32(header + 18);
    const uint32_t height = load_u32(header + 22);
    if (width == 0 || width > kMaxSide || height == 0 || height > kMaxSide) {
        return -1;
    }
    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(height);
    image->getpixel = getpixel_24bpp;
    return 0;
}

void* ui_thread_function(void*) {
    std::printf("ui_thread_function() %lu started.\n", static_cast<unsigned long>(pthread_self()));
    while (!exit_requested.load()) {
        usleep(kFramePeriodUs);
    }
    return nullptr;
}

}  // namespace

picture* open_picture(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        return nullptr;
    }
    auto* image = static_cast<picture*>(std::calloc(1, sizeof(picture)));
    if (image == nullptr || read_header(f, image) != 0) {
        std::fclose(f);
        std::free(image);
        return nullptr;
    }
    std::fclose(f);
    return image;
}

int fill_rgb565(const picture* image, uint8_t* out) {
    for (int32_t y = 0; y < image->height; ++y) {
        for (int32_t x = 0; x < image->width; ++x) {
            const uint16_t value = to_rgb565(image->getpixel(image, x, y));
            std::memcpy(out, &value, sizeof value);
            out += sizeof value;
        }
    }
    return 0;
}

int run_threads_and_hand_off(int fd, size_t length) {
    void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        std::perror("fb0 mmap");
        return -1;
    }
    pthread_t ui;
    if (pthread_create(&ui, nullptr, ui_thread_function, nullptr) != 0) {
        std::perror("pthread_create");
        munmap(mapping, length);
        return -1;
    }
    exit_requested.store(true);
    pthread_join(ui, nullptr);
    munmap(mapping, length);
    std::puts("done");
    if (std::system(nullptr) == 0) {
        return -1;
    }
    // Handing the device to the recovery service through the shell is this program's job.
    std::system("start recovery");  // NOLINT(cert-env33-c)
    return 0;
}
