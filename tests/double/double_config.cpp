// Reading the double's configuration and writing its event log.
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "check/screen_format.h"
#include "tests/double/device_double.h"

namespace {

constexpr uint32_t kDefaultFrameUs = 1000;
constexpr const char kMediaPrefix[] = "/ZELT/media/";
constexpr const char kConsolePrefix[] = "/sys/class/vtconsole/";
constexpr const char kNoConsoles[] = "/nonexistent/zelt-double-vtconsole";
constexpr size_t kLogLineBytes = 1024;

std::string env_or_empty(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// A configuration mistake is the test's fault: say so loudly and stop, rather than let the
// program run against a device nobody asked for.
[[noreturn]] void config_error(const char* what, const char* text, const char* why) {
    std::fprintf(stderr, "zelt-double: %s \"%s\": %s\n", what, text, why);
    std::abort();
}

long read_count(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0) {
        config_error(name, text, "must be a whole number of 0 or more");
    }
    return value;
}

struct loaded {
    double_config config;
    fb_var_screeninfo screen;
    fb_fix_screeninfo fixed;
};

// The fixed description a driver of this screen gives: its row pitch, and by default memory for
// every row of the virtual size, the visual that goes with the depth and the pan steps of a
// driver that pans to any row and column (1, 1); it never wraps (ywrapstep 0).
void describe_fixed(const screen_description& d, fb_fix_screeninfo* fixed) {
    std::snprintf(fixed->id, sizeof fixed->id, "zelt-double");
    fixed->type = FB_TYPE_PACKED_PIXELS;
    fixed->line_length = d.line_length;
    fixed->xpanstep =
        static_cast<uint16_t>(std::min(read_count("ZELT_DOUBLE_XPANSTEP", 1), 65535L));
    fixed->ypanstep =
        static_cast<uint16_t>(std::min(read_count("ZELT_DOUBLE_YPANSTEP", 1), 65535L));
    const uint64_t memory =
        d.smem_len != 0 ? d.smem_len : uint64_t{d.line_length} * d.var.yres_virtual;
    fixed->smem_len = static_cast<uint32_t>(read_count(
        "ZELT_DOUBLE_SMEM", static_cast<long>(memory > UINT32_MAX ? UINT32_MAX : memory)));
    const long visual = d.var.bits_per_pixel >= 16 ? FB_VISUAL_TRUECOLOR : FB_VISUAL_PSEUDOCOLOR;
    fixed->visual = static_cast<uint32_t>(read_count("ZELT_DOUBLE_VISUAL", visual));
}

loaded load() {
    loaded l{};
    double_config& c = l.config;
    const char* screen_text = std::getenv("ZELT_DOUBLE_SCREEN");
    c.screen_present = screen_text != nullptr;
    if (c.screen_present) {
        const char* why = nullptr;
        screen_description d{};
        if (parse_screen_description(screen_text, &d, &why) != 0) {
            config_error("ZELT_DOUBLE_SCREEN", screen_text, why);
        }
        l.screen = d.var;
        if (const char* virt = std::getenv("ZELT_DOUBLE_VIRTUAL")) {
            unsigned w = 0;
            unsigned h = 0;
            char rest = 0;
            if (std::sscanf(virt, "%ux%u%c", &w, &h, &rest) != 2) {
                config_error("ZELT_DOUBLE_VIRTUAL", virt, "must be WIDTHxHEIGHT");
            }
            l.screen.xres_virtual = d.var.xres_virtual = w;
            l.screen.yres_virtual = d.var.yres_virtual = h;
        }
        describe_fixed(d, &l.fixed);
    }
    c.screen_file = env_or_empty("ZELT_DOUBLE_SCREEN_FILE");
    c.log_path = env_or_empty("ZELT_DOUBLE_LOG");
    c.fail = env_or_empty("ZELT_DOUBLE_FAIL");
    c.panel = env_or_empty("ZELT_DOUBLE_PANEL");
    c.shell = env_or_empty("ZELT_DOUBLE_SHELL") != "0";
    c.media_dir = env_or_empty("ZELT_DOUBLE_MEDIA");
    c.console_dir = env_or_empty("ZELT_DOUBLE_VTCONSOLE");
    c.frames_dir = env_or_empty("ZELT_DOUBLE_FRAMES_DIR");
    c.frame_us = static_cast<uint32_t>(read_count("ZELT_DOUBLE_FRAME_US", kDefaultFrameUs));
    c.end_after = read_count("ZELT_DOUBLE_END_AFTER", -1);
    c.kill_after = read_count("ZELT_DOUBLE_KILL_AFTER", -1);
    return l;
}

// Caps the program's address space before its main runs, so that an allocation beyond the cap
// fails instead of succeeding on an overcommitting host and then touching gigabytes.
__attribute__((constructor)) void cap_address_space() {
    const long bytes = read_count("ZELT_DOUBLE_ADDRESS_SPACE", -1);
    if (bytes < 0) {
        return;
    }
    rlimit cap{};
    const bool got = getrlimit(RLIMIT_AS, &cap) == 0;
    cap.rlim_cur =
        std::min(static_cast<rlim_t>(bytes), cap.rlim_max);  // RLIM_INFINITY is the largest
    if (!got || setrlimit(RLIMIT_AS, &cap) != 0) {
        config_error("ZELT_DOUBLE_ADDRESS_SPACE", std::getenv("ZELT_DOUBLE_ADDRESS_SPACE"),
                     std::strerror(errno));
    }
}

const loaded& state() {
    static const loaded l = load();  // thread-safe first use
    return l;
}

int log_fd() {
    static const int fd = [] {
        const std::string& path = state().config.log_path;
        if (path.empty()) {
            return -1;
        }
        const auto real_open = DOUBLE_REAL(open);
        return real_open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }();
    return fd;
}

}  // namespace

const double_config& double_settings() {
    return state().config;
}

const fb_var_screeninfo& double_screen() {
    return state().screen;
}

const fb_fix_screeninfo& double_fixed_screen() {
    return state().fixed;
}

void double_log(const char* format, ...) {
    const int fd = log_fd();
    if (fd < 0) {
        return;
    }
    char line[kLogLineBytes];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    size_t length =
        static_cast<size_t>(n) < sizeof line - 1 ? static_cast<size_t>(n) : sizeof line - 2;
    line[length++] = '\n';
    // One write per line to a file opened for appending: lines from different threads never
    // interleave.
    const ssize_t written = write(fd, line, length);
    (void)written;
}

const char* double_media_path(const char* path, std::string* storage) {
    if (path == nullptr) {
        return path;
    }
    // The kernel's consoles are always the double's: a host's own never show in a run.
    const size_t consoles = sizeof kConsolePrefix - 1;
    if (std::strncmp(path, kConsolePrefix, consoles) == 0) {
        const std::string& dir = double_settings().console_dir;
        *storage = (dir.empty() ? std::string(kNoConsoles) : dir) + "/" + (path + consoles);
        return storage->c_str();
    }
    const size_t prefix = sizeof kMediaPrefix - 1;
    if (std::strncmp(path, kMediaPrefix, prefix) != 0) {
        return path;
    }
    const std::string& dir = double_settings().media_dir;
    if (dir.empty()) {
        return path;
    }
    *storage = dir + "/" + (path + prefix);
    return storage->c_str();
}
