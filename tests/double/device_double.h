// The device double: a library preloaded (LD_PRELOAD) into the real, unchanged program, standing
// in for the platform pieces a workstation lacks: the framebuffer "/dev/graphics/fb0", the
// shell, the media folder "/ZELT/media/", thread creation and the clock. Configured entirely by
// environment variables, read once:
//   ZELT_DOUBLE_SCREEN       "WxHxBPP[:RO/RL,GO/GL,BO/BL][:pitch=BYTES][:page=X,Y][:smem=BYTES]":
//                            the screen description (the pitch is the fixed description's
//                            line_length, the page its xoffset and yoffset, smem its
//                            smem_len); unset means there is no framebuffer (its open fails
//                            with ENOENT)
//   ZELT_DOUBLE_VIRTUAL      "WxH": virtual size (default: the visible size)
//   ZELT_DOUBLE_SMEM         smem_len of the fixed description (default: the screen's smem,
//                            else line_length x the virtual height)
//   ZELT_DOUBLE_VISUAL       visual of the fixed description, a number (default: 2, true colour,
//                            at 16 bits and more; 3, pseudo colour, below)
//   ZELT_DOUBLE_XPANSTEP     xpanstep and ypanstep of the fixed description (default 1; 0: the
//   ZELT_DOUBLE_YPANSTEP     kernel takes no pan off 0 that way); its ywrapstep is always 0
//   ZELT_DOUBLE_SCREEN_FILE  regular file backing the screen memory (default: an anonymous
//                            memory file of smem_len bytes, or line_length x the virtual
//                            height when smem_len is 0, at least the packed screen)
//   ZELT_DOUBLE_LOG          event log, one line per event, appended atomically
//   ZELT_DOUBLE_FAIL         open|ioctl|fixed|mmap|pan|pan-io|thread1|thread2: the one call
//                            made to fail (ioctl: FBIOGET_VSCREENINFO, fixed:
//                            FBIOGET_FSCREENINFO, pan: FBIOPAN_DISPLAY refused with EINVAL as
//                            by a driver without panning, pan-io: FBIOPAN_DISPLAY with EIO)
//   ZELT_DOUBLE_PANEL        "waits": the panel shows only the page the last FBIOPAN_DISPLAY
//                            named, as the memory was then, and the screen copies are that
//                            page's rows packed (default: it shows the memory as it is)
//   ZELT_DOUBLE_SHELL        "0": system(NULL) answers 0 (no shell); default 1
//   ZELT_DOUBLE_MEDIA        folder that stands in for "/ZELT/media/"
//   ZELT_DOUBLE_VTCONSOLE    folder that stands in for "/sys/class/vtconsole/" (default: one
//                            that does not exist: no consoles)
//   ZELT_DOUBLE_FRAMES_DIR   folder for a copy of the screen at each UI-thread sleep
//                            (frame-001.raw, frame-002.raw, ...)
//   ZELT_DOUBLE_FRAME_US     length of each UI-thread sleep in microseconds (default 1000)
//   ZELT_DOUBLE_END_AFTER    end the worker thread once this many UI-thread sleeps happened
//   ZELT_DOUBLE_KILL_AFTER   kill the process (SIGKILL, as when it is stopped from outside) at
//                            this UI-thread sleep, or the first one after the worker went idle
//   ZELT_DOUBLE_ADDRESS_SPACE  cap on the program's address space in bytes (RLIMIT_AS), set
//                            before its main runs; not for sanitized programs, whose runtimes
//                            reserve far more; qemu-user accepts it and ignores it
//   ZELT_DOUBLE_WATCH        "X,Y": log every change of the 32-bit pixel at (X, Y) of the shown
//                            page while the screen is mapped ("watch 0xAARRGGBB")
//   ZELT_DOUBLE_KMS          "WxH": "/dev/dri/card0" is a KMS card whose connected display
//                            prefers that mode (double_kms.cpp); unset: no /dev/dri/card* exists
//   ZELT_DOUBLE_KMS_PITCH    row pitch of its dumb buffers (default: W x 4 rounded up to 64)
//   ZELT_DOUBLE_KMS_FAIL     the card's one failing step: resources, connector (none
//                            connected), mode (none offered), crtc (none usable), getcrtc,
//                            create, addfb2 (ADDFB still works), addfb (both), map (MAP_DUMB),
//                            mmap, held (another program is master: SETCRTC answers EACCES),
//                            dirtyfb (ENOSYS: the display scans the buffer itself)
//   ZELT_DOUBLE_KMS_DISPLAYS the card's displays arranged otherwise: hdmi-lit (the console shows
//                            on HDMI-A-1, connected and listed after Virtual-1, which no CRTC
//                            drives), hdmi-lit-one-crtc (so, and Virtual-1 can use CRTC 40
//                            only), virtual-unknown (Virtual-1's state is unknown), hdmi-unknown
//                            (HDMI-A-1's is, with modes), hotplug (Virtual-1 gains a mode after
//                            it is first asked for), many-modes (Virtual-1 offers 300),
//                            unprobed (no modes of Virtual-1 are known until it is probed);
//                            a name not listed here makes no card
// Threads: the first thread created is "ui", the second "worker"; every other is "other" and
// the main thread is "main". Each created thread logs "thread ROLE id=N" with its own
// pthread_self() as it starts.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct double_config {
    bool screen_present;
    std::string screen_error;  // why ZELT_DOUBLE_SCREEN could not be read, if it could not
    std::string screen_file;
    std::string log_path;
    std::string fail;
    std::string panel;
    bool shell;
    std::string media_dir;
    std::string console_dir;
    std::string frames_dir;
    uint32_t frame_us;
    long end_after;   // negative: the worker is never ended
    long kill_after;  // negative: the process is never killed
};

// The configuration, read from the environment on first use.
const double_config& double_settings();

// The screen descriptions the device reports (valid when screen_present).
struct fb_var_screeninfo;
struct fb_fix_screeninfo;
const fb_var_screeninfo& double_screen();
const fb_fix_screeninfo& double_fixed_screen();

// Appends one line (no newline needed) to the event log, if there is one.
void double_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Copies what the panel shows of the mapped screen, if mapped, into `path`: the mapping, or a
// waiting panel's page. Returns false when nothing is mapped.
bool double_save_screen(const char* path);

// FBIOPAN_DISPLAY: checks the page `asked` names as the kernel does (pan steps, virtual screen)
// and makes it the shown one; a waiting panel takes a copy of that page from the device memory,
// `memory_bytes` long, read through the device handle `fd`. Returns 0, or -1 with errno set.
int double_pan(const fb_var_screeninfo& asked, int fd, uint64_t memory_bytes);
// Sets the page offsets of `var` to the page the last accepted pan showed, if any.
void double_shown_page(fb_var_screeninfo* var);
// What the panel shows of the `*length` bytes of `memory`: the memory itself, or a waiting
// panel's page from the last pan (xres x yres pixels, rows packed; zeros before the first),
// whose length it then puts in `*length`.
const uint8_t* double_panel_picture(const uint8_t* memory, size_t* length);

// Starts and stops the watcher of ZELT_DOUBLE_WATCH over the screen mapping.
void double_watch_start(uint8_t* mapping, size_t length);
void double_watch_stop();

// The KMS card (double_kms.cpp): whether `path` is a /dev/dri/card* and `fd` the open card; the
// card's open, requests, mapping at `offset`, unmapping (false: not the card's mapping) and
// close; and a copy of what its display shows into `path` (false: it shows nothing of ours).
bool double_kms_path(const char* path);
bool double_kms_card(int fd);
int double_kms_open(const char* path, int flags);
int double_kms_ioctl(unsigned long request, void* arg);
void* double_kms_map(size_t length, int prot, int flags, uint64_t offset);
bool double_kms_unmap(void* addr, size_t length);
void double_kms_close(int fd);
bool double_kms_save(const char* path);

// Rewrites a path under "/ZELT/media/" into the media folder, and one under
// "/sys/class/vtconsole/" into the console folder. Returns `path` itself when it is not such a
// path or no media folder is set; otherwise `storage`'s contents. Other paths are answered
// without reading the configuration.
const char* double_media_path(const char* path, std::string* storage);

// How the C library declares what the double defines in its place: glibc's declarations promise
// not to throw and take ioctl's request as unsigned long; bionic's do neither.
#if defined(__BIONIC__)
#define DOUBLE_NOTHROW
using double_ioctl_request = int;
#else
#define DOUBLE_NOTHROW noexcept
using double_ioctl_request = unsigned long;
#endif

// The next definition of `fn` after this library: the real function, looked up once per call
// site. The cache is a constant-initialized atomic rather than a function-local static with a
// guard: sanitizer runtimes call mmap, open and the like through these interposers while they
// are still starting, before the guard's (intercepted) helpers may run. For the same reason the
// pass-through paths of the interposers take no locks and read no lazily built state.
template <typename F>
F double_real(std::atomic<void*>* slot, const char* name) {
    void* p = slot->load(std::memory_order_relaxed);
    if (p == nullptr) {
        p = dlsym(RTLD_NEXT, name);
        slot->store(p, std::memory_order_relaxed);
    }
    return reinterpret_cast<F>(p);
}
#define DOUBLE_REAL(fn)                                \
    ([] {                                              \
        static std::atomic<void*> slot{nullptr};       \
        return double_real<decltype(&fn)>(&slot, #fn); \
    }())
