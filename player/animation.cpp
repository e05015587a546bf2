#include "player/animation.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "player/playback.h"
#include "screen/kms.h"
#include "screen/screen.h"

namespace {

// Asks whether a command processor exists, by calling system() with no command; reports "sh"
// when there is none. The null command is passed through a variable: bionic declares system()'s
// argument _Nonnull, and its headers turn a null literal there into a build error (-Wnonnull),
// yet bionic answers a null command as glibc does, with whether a shell exists.
bool shell_present() {
    const char* no_command = nullptr;
    // No command is run (the check exempts only a literal null).
    // NOLINTNEXTLINE(cert-env33-c)
    if (system(no_command) != 0) {
        return true;
    }
    // system() with no command sets no error number; without this the report would read
    // "sh: Success".
    errno = ENOENT;
    perror("sh");
    return false;
}

// Opens, describes and maps the screen, reporting the first step that fails. The state keeps
// whatever was acquired, for screen_release() to undo.
bool connect_screen() {
    if (screen_open() < 0) {
        const bool missing = errno == ENOENT;
        perror("fb0 dev open");
        // No framebuffer device at all: the display may still be reached through KMS.
        return missing && kms_connect();
    }
    if (screen_describe() < 0) {
        perror("fb0 dev ioctl");
        return false;
    }
    screen_report();
    // Without the fixed description the screen is taken to be packed rows from offset 0; the
    // pictures may then land where the driver does not show them, but the run goes on.
    if (screen_describe_fixed() < 0) {
        perror("fb0 dev fixed ioctl");
    }
    if (screen_size() < 0 || screen_map() < 0) {
        perror("fb0 dev mmap");
        return false;
    }
    return true;
}

// Hands the device on to its recovery service. The command's result is not examined: the
// hand-off is the last thing this program does, whatever came before.
void hand_off() {
    // Through the shell on purpose: `start recovery` is how init is asked to start the service.
    // NOLINTNEXTLINE(cert-env33-c)
    const int ignored = system("start recovery");
    (void)ignored;
}

}  // namespace

int animation_main(int, char**) {
    puts("start ZELT animation.");
    if (shell_present() && connect_screen()) {
        animation_phase();
    }

    // Cleanup: the one way out, on every path. Releases only what is held; by now no other
    // thread of the program runs.
    screen_release();
    animation_release();
    hand_off();
    return 0;
}
