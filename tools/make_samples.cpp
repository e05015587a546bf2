// zelt-samples OUTDIR [--title WxH] [--frame WxH]
// Writes the seven sample pictures: zelttitle.bmp (24-bit) and zeltani00.bmp .. zeltani05.bmp,
// each frame in a different encoding so that playing them exercises the reader.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/bmp_write.h"
#include "tools/sample_art.h"

namespace {

constexpr bmp_encoding kFrameEncodings[kSampleFrameCount] = {
    bmp_encoding::palette8,    bmp_encoding::rle8,  bmp_encoding::palette4,
    bmp_encoding::bitfields16, bmp_encoding::rgb32, bmp_encoding::rgb24,
};

int usage() {
    fprintf(stderr, "usage: zelt-samples OUTDIR [--title WxH] [--frame WxH]\n");
    return 2;
}

bool parse_size(const char* text, int32_t* w, int32_t* h) {
    char* end = nullptr;
    long a = strtol(text, &end, 10);
    if (end == text || *end != 'x') {
        return false;
    }
    const char* second = end + 1;
    long b = strtol(second, &end, 10);
    if (end == second || *end != '\0' || a < 1 || b < 1 || a > 16384 || b > 16384) {
        return false;
    }
    *w = static_cast<int32_t>(a);
    *h = static_cast<int32_t>(b);
    return true;
}

bool write_one(const std::string& path, const rgb_picture& picture, bmp_encoding encoding) {
    bmp_write_options options;
    options.encoding = encoding;
    const char* why = nullptr;
    if (bmp_write(path.c_str(), picture, options, &why) != 0) {
        fprintf(stderr, "zelt-samples: %s: %s\n", path.c_str(), why);
        return false;
    }
    printf("%s (%dx%d, %s)\n", path.c_str(), picture.width, picture.height,
           bmp_encoding_name(encoding));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        return usage();
    }
    std::string out_dir = argv[1];
    int32_t title_w = kSampleTitleWidth, title_h = kSampleTitleHeight;
    int32_t frame_w = kSampleFrameWidth, frame_h = kSampleFrameHeight;
    for (int i = 2; i < argc; i += 2) {
        bool ok = i + 1 < argc;
        if (ok && strcmp(argv[i], "--title") == 0) {
            ok = parse_size(argv[i + 1], &title_w, &title_h);
        } else if (ok && strcmp(argv[i], "--frame") == 0) {
            ok = parse_size(argv[i + 1], &frame_w, &frame_h);
        } else {
            ok = false;
        }
        if (!ok) {
            return usage();
        }
    }
    if (mkdir(out_dir.c_str(), 0755) != 0 && errno != EEXIST) {
        fprintf(stderr, "zelt-samples: %s: %s\n", out_dir.c_str(), strerror(errno));
        return 1;
    }
    if (!write_one(out_dir + "/zelttitle.bmp", sample_title(title_w, title_h, frame_h),
                   bmp_encoding::rgb24)) {
        return 1;
    }
    for (int i = 0; i < kSampleFrameCount; ++i) {
        char name[32];
        snprintf(name, sizeof name, "/zeltani%02d.bmp", i);
        if (!write_one(out_dir + name, sample_frame(i, frame_w, frame_h), kFrameEncodings[i])) {
            return 1;
        }
    }
    return 0;
}
