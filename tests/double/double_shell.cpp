// The shell: whether one exists is the test's choice, and the hand-off command is recorded
// instead of run. Any other command passes through to the real shell.
#include <cstdlib>
#include <cstring>

#include "tests/double/device_double.h"

namespace {

constexpr const char kHandOff[] = "start recovery";

}  // namespace

extern "C" int system(const char* command) {
    const auto real = DOUBLE_REAL(system);
    if (command == nullptr) {
        const int answer = double_settings().shell ? 1 : 0;
        double_log("system NULL -> %d", answer);
        return answer;
    }
    if (std::strcmp(command, kHandOff) == 0) {
        double_log("system \"%s\"", command);
        return 0;
    }
    double_log("system \"%s\" passed on", command);
    return real(command);
}
