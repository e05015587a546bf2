// zelt-probe [--help]
// Run once on the device, as root, before shipping: tells whether zelt-animation will show its
// pictures right there, and if not, what the person will see and why. Looks only: opens the
// framebuffer read-only and maps nothing, reads the pictures as the player does, runs no
// command (the shell is only asked whether it exists, `start` only looked for).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "check/media_check.h"
#include "check/screen_format.h"
#include "probe/probe_console.h"
#include "probe/probe_kms.h"
#include "probe/probe_screen.h"
#include "probe/probe_shell.h"

namespace {

constexpr int kExitAsIntended = 0;  // every picture loads and shows as intended
constexpr int kExitWrong = 1;       // the player runs, but the screen is wrong or loading stops
constexpr int kExitCannotLook = 2;  // no framebuffer to look at, or a usage error

constexpr char kHelp[] =
    "usage: zelt-probe\n"
    "\n"
    "Run on the device (as root) to learn whether zelt-animation will show its pictures there.\n"
    "Reports the framebuffer /dev/graphics/fb0 (depth, row pitch, memory, visible page,\n"
    "channel order, visual) against the screen the player assumes, or where there is none,\n"
    "the KMS display the player would take (/dev/dri/card0 to card7); checks the pictures in\n"
    "/ZELT/media/ with the player's reader, and whether a shell and a `start` command exist.\n"
    "Then a verdict line and the host command that previews what this device will show,\n"
    "  zelt-assets preview DIR OUT --screen VALUE\n"
    "or, where the preview cannot (a depth not drawn, a mapping refused, a colour map),\n"
    "\"host preview: none:\" and why.\n"
    "Safe while Android's UI is up: the device is opened read-only and never mapped, written,\n"
    "panned or switched to another mode (a KMS card is only asked); no command is run.\n"
    "\n"
    "Exit status: 0 the player will load every picture and show them as intended; 1 it will\n"
    "run, but the screen will be wrong or loading will stop; 2 there is no framebuffer or KMS\n"
    "display to look at, or a usage error.\n";

// The host command that shows what this screen will display, when the preview can draw it.
void print_preview_command(const probe_screen& s) {
    const char* gap = probe_preview_gap(s);
    // The memory size changes the preview only where the shown page is not at offset 0: there
    // it decides whether the player follows the page.
    const bool memory_matters =
        s.layout.basis == screen_basis::beyond_memory || s.layout.origin != 0;
    screen_description d{s.var, s.fix.line_length, memory_matters ? s.fix.smem_len : 0};
    char value[kScreenTextBytes];
    if (gap == nullptr && format_screen_description(d, value, sizeof value) < 0) {
        gap = "the screen is beyond the sizes zelt-assets takes";
    }
    if (gap != nullptr) {
        std::printf("host preview: none: %s\n", gap);
        return;
    }
    std::printf(
        "host preview: zelt-assets preview DIR OUT --screen %s\n"
        "  (DIR: a copy of /ZELT/media/, OUT: a folder for the pictures)\n",
        value);
}

int probe() {
    std::printf("zelt-probe: what zelt-animation will do on this device\n");
    std::string faults;
    probe_screen screen = probe_read_screen();
    // No framebuffer device at all: the player looks for a KMS display, and so does the probe.
    const bool kms = screen.failed == probe_step::open && screen.error == ENOENT;
    if (kms) {
        screen = probe_kms_screen();
    }
    if (screen.failed != probe_step::none) {
        if (!kms) {
            probe_report_unreadable(screen);
        }
        // Without the variable description the player stops before loading; without the fixed
        // one the probe cannot tell what the screen will show.
        std::printf("pictures: not checked\n");
    } else if (!kms) {
        probe_judge_screen(screen, &faults);
        probe_note_consoles();
    }
    if (screen.failed == probe_step::none) {
        std::printf("pictures in /ZELT/media/, opened with the player's reader:\n");
        std::string picture_fault;
        if (assets_check("", screen.var, &picture_fault) != kExitPlays) {
            probe_add_fault(&faults, picture_fault);
        }
    }
    probe_judge_shell(&faults);
    if (screen.failed != probe_step::none) {
        // The player itself needs only the variable description.
        std::fputs(screen.failed == probe_step::describe_fixed
                       ? "verdict: cannot tell: the driver does not give its row pitch, memory "
                         "size and visual\n"
                       : "verdict: cannot look at a framebuffer or a KMS display: the player "
                         "shows nothing here\n",
                   stdout);
        return kExitCannotLook;
    }
    if (faults.empty()) {
        std::printf("verdict: plays as intended: every picture loads and shows as it is\n");
    } else {
        std::printf("verdict: will not show as intended: %s\n", faults.c_str());
    }
    print_preview_command(screen);
    return faults.empty() ? kExitAsIntended : kExitWrong;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        std::fprintf(stderr, "zelt-probe: unexpected argument %s (see zelt-probe --help)\n",
                     argv[1]);
        return kExitCannotLook;
    }
    return probe();
}
