// zelt-frames-png --screen WxHxBPP[:channels] IN_DIR OUT_DIR
// Turns the raw screen copies IN_DIR/frame-NNN.raw (each exactly one screen of bytes) into
// OUT_DIR/frame-NNN.png, in frame order, plus OUT_DIR/index.html that plays them.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check/screen_format.h"
#include "tools/screen_png.h"

namespace {

constexpr char kPrefix[] = "frame-";
constexpr char kRawSuffix[] = ".raw";

int usage() {
    fprintf(stderr, "usage: zelt-frames-png --screen WxHxBPP[:RO/RL,GO/GL,BO/BL] IN_DIR OUT_DIR\n");
    return 2;
}

// The frame number of "frame-NNN.raw", or -1 for any other name.
long frame_number(const char* name) {
    size_t prefix = sizeof kPrefix - 1, suffix = sizeof kRawSuffix - 1;
    size_t len = strlen(name);
    if (len <= prefix + suffix || strncmp(name, kPrefix, prefix) != 0 ||
        strcmp(name + len - suffix, kRawSuffix) != 0) {
        return -1;
    }
    long number = 0;
    for (size_t i = prefix; i < len - suffix; ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 99999999) {
            return -1;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

struct raw_frame {
    long number;
    std::string stem;  // "frame-NNN"
};

bool list_frames(const char* dir, std::vector<raw_frame>* frames) {
    DIR* d = opendir(dir);
    if (d == nullptr) {
        return false;
    }
    while (const dirent* e = readdir(d)) {
        long n = frame_number(e->d_name);
        if (n >= 0) {
            std::string name = e->d_name;
            frames->push_back({n, name.substr(0, name.size() - (sizeof kRawSuffix - 1))});
        }
    }
    closedir(d);
    std::sort(frames->begin(), frames->end(),
              [](const raw_frame& a, const raw_frame& b) { return a.number < b.number; });
    return true;
}

bool read_exactly(const std::string& path, size_t size, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    bytes->resize(size + 1);
    size_t got = fread(bytes->data(), 1, size + 1, f);
    fclose(f);
    return got == size;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || strcmp(argv[1], "--screen") != 0) {
        return usage();
    }
    const char* why = nullptr;
    fb_var_screeninfo screen{};
    if (parse_screen_format(argv[2], &screen, &why) != 0) {
        fprintf(stderr, "zelt-frames-png: %s\n", why);
        return 2;
    }
    if (screen.bits_per_pixel != 16 && screen.bits_per_pixel != 24 && screen.bits_per_pixel != 32) {
        fprintf(stderr, "zelt-frames-png: only 16-, 24- and 32-bit screens can be shown\n");
        return 2;
    }
    const char* in_dir = argv[3];
    const char* out_dir = argv[4];
    std::vector<raw_frame> frames;
    if (!list_frames(in_dir, &frames)) {
        fprintf(stderr, "zelt-frames-png: %s: %s\n", in_dir, strerror(errno));
        return 1;
    }
    if (mkdir(out_dir, 0755) != 0 && errno != EEXIST) {
        fprintf(stderr, "zelt-frames-png: %s: %s\n", out_dir, strerror(errno));
        return 1;
    }
    size_t screen_bytes =
        static_cast<size_t>(screen.xres) * screen.yres * (screen.bits_per_pixel / 8);
    std::vector<uint8_t> bytes;
    std::vector<std::string> pngs;
    for (const raw_frame& frame : frames) {
        std::string in = std::string(in_dir) + "/" + frame.stem + kRawSuffix;
        if (!read_exactly(in, screen_bytes, &bytes)) {
            fprintf(stderr, "zelt-frames-png: %s: not a screen of exactly %zu bytes\n", in.c_str(),
                    screen_bytes);
            return 1;
        }
        std::string png = frame.stem + ".png";
        std::string out = std::string(out_dir) + "/" + png;
        if (screen_write_png(out.c_str(), screen, bytes.data(), screen_bytes, &why) != 0) {
            fprintf(stderr, "zelt-frames-png: %s: %s\n", out.c_str(), why);
            return 1;
        }
        pngs.push_back(png);
    }
    if (player_page_write(out_dir, pngs, &why) != 0) {
        fprintf(stderr, "zelt-frames-png: %s: %s\n", out_dir, why);
        return 1;
    }
    printf("zelt-frames-png: %zu frames written to %s/ (open %s/index.html)\n", pngs.size(),
           out_dir, out_dir);
    return 0;
}
