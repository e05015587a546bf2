// The framebuffer device: opening "/dev/graphics/fb0" yields a handle on the backing file (or an
// anonymous memory file), and the describe request, mapping, unmapping and closing of that one
// handle are answered and logged here. Every other handle and path passes through untouched,
// except paths under the media folder, which are redirected, and the device folders of displays
// ("/dev/graphics/", "/dev/dri/"), which never reach the host's own: what the double does not
// stand in for there is refused with ENOENT.
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <initializer_list>

#include "tests/double/device_double.h"

namespace {

constexpr const char kFramebufferPath[] = "/dev/graphics/fb0";

// The one device handle and its mapping, shared by every thread of the program. Atomics, not a
// lock: every mmap, munmap and close of the process looks at them (see device_double.h).
std::atomic<int> g_fb_fd{-1};
std::atomic<size_t> g_map_length{0};
std::atomic<void*> g_map_addr{nullptr};  // set after g_map_length, read before it

bool is_fb(int fd) {
    return fd >= 0 && fd == g_fb_fd.load();
}

bool fail_requested(const char* what) {
    return double_settings().fail == what;
}

// The screen memory: smem_len bytes, or where the driver does not say (0) line_length x the
// virtual height; never less than the packed visible screen.
uint64_t screen_bytes() {
    const fb_var_screeninfo& s = double_screen();
    const fb_fix_screeninfo& f = double_fixed_screen();
    const uint64_t packed = static_cast<uint64_t>(s.xres) * s.yres * (s.bits_per_pixel / 8);
    const uint64_t memory = f.smem_len != 0 ? f.smem_len : uint64_t{f.line_length} * s.yres_virtual;
    return std::max(packed, memory);
}

// The access mode an open asked for, so that the tests can tell a read-only open.
const char* access_text(int flags) {
    switch (flags & O_ACCMODE) {
        case O_RDONLY:
            return "rdonly";
        case O_WRONLY:
            return "wronly";
        default:
            return "rdwr";
    }
}

int open_screen(int flags) {
    const double_config& c = double_settings();
    if (!c.screen_present || fail_requested("open")) {
        double_log("open %s failed (%s)", kFramebufferPath,
                   c.screen_present ? "injected" : "no screen");
        errno = ENOENT;
        return -1;
    }
    int fd = -1;
    if (!c.screen_file.empty()) {
        const auto real_open = DOUBLE_REAL(open);
        fd = real_open(c.screen_file.c_str(), flags & ~(O_CREAT | O_TRUNC | O_EXCL));
    } else {
        // Through syscall(): bionic declares memfd_create only from API level 30.
        fd = static_cast<int>(syscall(SYS_memfd_create, "zelt-fb0", 0));
        if (fd >= 0 && ftruncate(fd, static_cast<off_t>(screen_bytes())) != 0) {
            close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        const int saved = errno;
        double_log("open %s failed (%s)", kFramebufferPath, std::strerror(saved));
        errno = saved;
        return -1;
    }
    g_fb_fd.store(fd);
    double_log("open %s fd=%d flags=%s", kFramebufferPath, fd, access_text(flags));
    return fd;
}

// open() and open64() take a mode only when they may create a file.
bool takes_mode(int flags) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0;
}

// The folders of display devices: what is opened there is either stood in for or refused.
bool display_device(const char* path) {
    for (const char* folder : {"/dev/graphics/", "/dev/dri/"}) {
        if (path != nullptr && std::strncmp(path, folder, std::strlen(folder)) == 0) {
            return true;
        }
    }
    return false;
}

template <typename Open>
int open_common(Open real, const char* path, int flags, mode_t mode) {
    if (path != nullptr && std::strcmp(path, kFramebufferPath) == 0) {
        return open_screen(flags);
    }
    if (double_kms_path(path)) {
        return double_kms_open(path, flags);
    }
    if (display_device(path)) {
        double_log("open %s refused (a display of the host)", path);
        errno = ENOENT;
        return -1;
    }
    std::string storage;
    return real(double_media_path(path, &storage), flags, mode);
}

// The checked opens take no mode: they never create a file.
template <typename Real>
int open_checked(Real real, const char* path, int flags) {
    return open_common([real](const char* p, int f, mode_t) { return real(p, f); }, path, flags, 0);
}

const char* prot_text(int prot) {
    switch (prot & (PROT_READ | PROT_WRITE)) {
        case PROT_READ | PROT_WRITE:
            return "rw";
        case PROT_READ:
            return "r";
        case PROT_WRITE:
            return "w";
        default:
            return "none";
    }
}

template <typename Map, typename Offset>
void* map_common(Map real, void* addr, size_t length, int prot, int flags, int fd, Offset offset) {
    if (double_kms_card(fd)) {
        return double_kms_map(length, prot, flags, static_cast<uint64_t>(offset));
    }
    if (!is_fb(fd)) {
        return real(addr, length, prot, flags, fd, offset);
    }
    if (fail_requested("mmap")) {
        double_log("mmap fb length=%zu failed (injected)", length);
        errno = ENOMEM;
        return MAP_FAILED;
    }
    void* mapping = real(addr, length, prot, flags, fd, offset);
    if (mapping == MAP_FAILED) {
        const int saved = errno;
        double_log("mmap fb length=%zu failed (%s)", length, std::strerror(saved));
        errno = saved;
        return mapping;
    }
    g_map_length.store(length);
    g_map_addr.store(mapping);
    double_log("mmap fb length=%zu offset=%lld prot=%s %s", length, static_cast<long long>(offset),
               prot_text(prot), (flags & MAP_SHARED) != 0 ? "shared" : "private");
    double_watch_start(static_cast<uint8_t*>(mapping), length);
    return mapping;
}

}  // namespace

bool double_save_screen(const char* path) {
    const auto real_open = DOUBLE_REAL(open);
    if (double_kms_save(path)) {
        return true;
    }
    const void* addr = g_map_addr.load();
    const size_t length = g_map_length.load();
    if (addr == nullptr) {
        return false;
    }
    const int fd = real_open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    size_t shown_length = length;
    const uint8_t* shown = double_panel_picture(static_cast<const uint8_t*>(addr), &shown_length);
    const ssize_t written = shown == nullptr ? -1 : write(fd, shown, shown_length);
    close(fd);
    return written == static_cast<ssize_t>(shown_length);
}

extern "C" {

int open(const char* path, int flags, ...) {
    const auto real = DOUBLE_REAL(open);
    mode_t mode = 0;
    if (takes_mode(flags)) {
        va_list args;
        va_start(args, flags);
        // The analyzer takes this definition for libc's own open and loses track of va_start.
        // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    return open_common(real, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    const auto real = DOUBLE_REAL(open64);
    mode_t mode = 0;
    if (takes_mode(flags)) {
        va_list args;
        va_start(args, flags);
        // The analyzer takes this definition for libc's own open and loses track of va_start.
        // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    return open_common(real, path, flags, mode);
}

// The checked opens of fortified builds (_FORTIFY_SOURCE): bionic's headers turn every open
// without a mode into __open_2, glibc's those whose flags are not constant (__open64_2 with
// 64-bit file offsets). The C library's own goes to the kernel, past open().
int __open_2(const char* path, int flags) {
    return open_checked(DOUBLE_REAL(__open_2), path, flags);
}

#if !defined(__BIONIC__)
int __open64_2(const char* path, int flags) {
    return open_checked(DOUBLE_REAL(__open64_2), path, flags);
}
#endif

int ioctl(int fd, double_ioctl_request request, ...) DOUBLE_NOTHROW {
    // Named by its type: bionic's headers add an overload.
    static std::atomic<void*> slot{nullptr};
    const auto real = double_real<int (*)(int, double_ioctl_request, ...)>(&slot, "ioctl");
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (double_kms_card(fd)) {
        // Request numbers are 32 bits; bionic's int request would sign-extend the DRM ones
        // (direction bits at the top) on a 64-bit long.
        return double_kms_ioctl(static_cast<uint32_t>(request), arg);
    }
    if (!is_fb(fd)) {
        return real(fd, request, arg);
    }
    if (request == FBIOGET_FSCREENINFO) {
        if (fail_requested("fixed")) {
            double_log("ioctl fb FBIOGET_FSCREENINFO failed (injected)");
            errno = EINVAL;
            return -1;
        }
        std::memcpy(arg, &double_fixed_screen(), sizeof(fb_fix_screeninfo));
        double_log("ioctl fb FBIOGET_FSCREENINFO");
        return 0;
    }
    if (request == FBIOPAN_DISPLAY) {
        return double_pan(*static_cast<const fb_var_screeninfo*>(arg), fd, screen_bytes());
    }
    if (request != FBIOGET_VSCREENINFO) {
        double_log("ioctl fb request=0x%lx unsupported", static_cast<unsigned long>(request));
        errno = ENOTTY;
        return -1;
    }
    if (fail_requested("ioctl")) {
        double_log("ioctl fb FBIOGET_VSCREENINFO failed (injected)");
        errno = EINVAL;
        return -1;
    }
    std::memcpy(arg, &double_screen(), sizeof(fb_var_screeninfo));
    double_shown_page(static_cast<fb_var_screeninfo*>(arg));
    double_log("ioctl fb FBIOGET_VSCREENINFO");
    return 0;
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) DOUBLE_NOTHROW {
    const auto real = DOUBLE_REAL(mmap);
    return map_common(real, addr, length, prot, flags, fd, offset);
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd,
             off64_t offset) DOUBLE_NOTHROW {
    const auto real = DOUBLE_REAL(mmap64);
    return map_common(real, addr, length, prot, flags, fd, offset);
}

int munmap(void* addr, size_t length) DOUBLE_NOTHROW {
    const auto real = DOUBLE_REAL(munmap);
    void* expected = addr;
    const bool screen = addr != nullptr && g_map_addr.compare_exchange_strong(expected, nullptr);
    if (screen) {
        double_watch_stop();  // before the memory it reads goes away
        double_log("munmap fb length=%zu", length);
    } else if (double_kms_unmap(addr, length)) {
        // the card's dumb buffer
    } else if (addr == MAP_FAILED) {
        // Unmapping the failure value of a mapping: a fault of the program, made visible.
        double_log("munmap MAP_FAILED length=%zu", length);
    }
    return real(addr, length);
}

int close(int fd) {
    const auto real = DOUBLE_REAL(close);
    int expected = fd;
    const bool screen = fd >= 0 && g_fb_fd.compare_exchange_strong(expected, -1);
    if (screen) {
        double_log("close fb");
    }
    double_kms_close(fd);
    return real(fd);
}

}  // extern "C"
