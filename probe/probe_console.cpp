#include "probe/probe_console.h"

#include <cstdio>
#include <cstring>

namespace {

// The kernel numbers its console drivers vtcon0 upwards, at most this many.
constexpr int kMaxConsoles = 16;
constexpr const char* kConsoleDir = "/sys/class/vtconsole";

// The first line of `path` without its newline, or false when it cannot be read.
bool read_line(const char* path, char* line, size_t size) {
    FILE* f = std::fopen(path, "r");
    if (f == nullptr) {
        return false;
    }
    const bool got = std::fgets(line, static_cast<int>(size), f) != nullptr;
    std::fclose(f);
    if (got) {
        line[std::strcspn(line, "\n")] = '\0';
    }
    return got;
}

}  // namespace

void probe_note_consoles() {
    for (int i = 0; i < kMaxConsoles; ++i) {
        char path[64];
        char name[128];
        char bound[8];
        std::snprintf(path, sizeof path, "%s/vtcon%d/name", kConsoleDir, i);
        if (!read_line(path, name, sizeof name) || std::strstr(name, "frame buffer") == nullptr) {
            continue;
        }
        std::snprintf(path, sizeof path, "%s/vtcon%d/bind", kConsoleDir, i);
        if (read_line(path, bound, sizeof bound) && std::strcmp(bound, "1") == 0) {
            std::printf(
                "note: console vtcon%d (%s) is bound to the framebuffer: the kernel draws its "
                "cursor and messages over the pictures; unbind it with: echo 0 > %s\n",
                i, name, path);
        }
    }
}
