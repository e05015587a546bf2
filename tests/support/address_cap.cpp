#include "tests/support/address_cap.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Virtual size of this process, from /proc/self/statm (first field, in pages).
size_t address_space_bytes() {
    unsigned long pages = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (f != nullptr) {
        if (fscanf(f, "%lu", &pages) != 1) {
            pages = 0;
        }
        fclose(f);
    }
    return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

bool cap_address_space(size_t room_bytes, size_t probe_bytes) {
    rlimit cap{};
    if (getrlimit(RLIMIT_AS, &cap) != 0) {
        return false;
    }
    cap.rlim_cur = address_space_bytes() + room_bytes;
    if (setrlimit(RLIMIT_AS, &cap) != 0) {
        return false;
    }
    // volatile: the compiler may not drop the allocation and take its success for granted.
    void* volatile probe = malloc(probe_bytes);
    if (probe != nullptr) {
        free(probe);
        return false;
    }
    return true;
}
