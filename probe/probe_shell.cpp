#include "probe/probe_shell.h"

#include "probe/probe_screen.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Where a shell looks for commands when PATH is not set: Android's folders, then the usual ones.
constexpr const char* kDefaultPath = "/system/bin:/system/xbin:/vendor/bin:/bin:/usr/bin";
constexpr const char* kStart = "start";

// The first executable regular file named `name` in the folders of `path` (':'-separated; an
// empty entry is the current folder), or "" when there is none.
std::string find_on_path(const std::string& path, const char* name) {
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find(':', begin);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string dir = path.substr(begin, end - begin);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        begin = end + 1;
    }
    return "";
}

}  // namespace

void probe_judge_shell(std::string* faults) {
    // Asking with no command runs nothing: it only tells whether a command processor exists.
    // The null command goes through a variable, as in the player: bionic's headers reject a
    // null literal there (its argument is declared _Nonnull), though bionic answers it.
    const char* no_command = nullptr;
    // No command is run (the check exempts only a literal null).
    // NOLINTNEXTLINE(cert-env33-c)
    const int answer = std::system(no_command);
    if (answer != 0) {
        std::printf("ok: shell: a command processor answers (system(NULL) = %d)\n", answer);
    } else {
        std::printf(
            "wrong: shell: no command processor (system(NULL) = 0): the player reports "
            "\"sh\" and goes straight to its hand-off without opening the screen\n");
        probe_add_fault(faults, "no shell");
    }
    const char* env_path = std::getenv("PATH");
    const std::string path = env_path != nullptr ? env_path : kDefaultPath;
    const std::string start = find_on_path(path, kStart);
    if (!start.empty()) {
        std::printf("ok: start: %s is on the shell's path (not run)\n", start.c_str());
    } else {
        std::printf(
            "note: start: no executable \"start\" on the shell's path (%s%s): the "
            "hand-off \"start recovery\" will fail and the device stays as it is\n",
            env_path != nullptr ? "PATH " : "PATH unset, looked in ", path.c_str());
    }
}
