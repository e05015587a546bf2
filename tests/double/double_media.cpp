// The media folder: files opened under "/ZELT/media/" are read from the test's folder instead.
#include <cstdio>

#include "tests/double/device_double.h"

namespace {

template <typename Open>
FILE* fopen_common(Open real, const char* path, const char* mode) {
    std::string storage;
    const char* actual = double_media_path(path, &storage);
    if (actual != path) {
        double_log("fopen %s", path);
    }
    return real(actual, mode);
}

}  // namespace

extern "C" {

FILE* fopen(const char* path, const char* mode) {
    const auto real = DOUBLE_REAL(fopen);
    return fopen_common(real, path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    const auto real = DOUBLE_REAL(fopen64);
    return fopen_common(real, path, mode);
}

}  // extern "C"
