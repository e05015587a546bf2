// The program's start-up and shutdown, run for real against the device double: what it prints,
// what it does to the device and the shell, and in which order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "tests/player/run_program.h"

namespace {

const char kStartLine[] = "start ZELT animation.\n";
const char kOpen[] = "open /dev/graphics/fb0";
const char kDescribe[] = "ioctl fb FBIOGET_VSCREENINFO";
const char kDescribeFixed[] = "ioctl fb FBIOGET_FSCREENINFO";
const char kShellAsked[] = "system NULL -> 1";
const char kHandOff[] = "system \"start recovery\"";
const char kClose[] = "close fb";

// The device handle's number is the system's choice; the rest of each event is exact.
std::vector<std::string> without_fd(std::vector<std::string> events) {
    for (std::string& e : events) {
        if (e.rfind(std::string(kOpen) + " fd=", 0) == 0) {
            e = kOpen;
        }
    }
    return events;
}

std::string description_block(int x, int y, int xv, int yv, int bpp) {
    return "x-resolution: " + std::to_string(x) + "\ny-resolution: " + std::to_string(y) +
           "\nx-resolution-virtual: " + std::to_string(xv) +
           "\ny-resolution-vritual: " + std::to_string(yv) + "\nbpp: " + std::to_string(bpp) + "\n";
}

// A screen description, an injected failure and the shell's answer: all a start-up needs.
run_options device(const char* screen, const char* fail = "", bool shell = true) {
    run_options o;
    o.screen = screen;
    o.fail = fail;
    o.shell = shell;
    return o;
}

// Where fb0 does not exist the program looks for a KMS card: here there is none.
std::vector<std::string> without_cards(std::vector<std::string> before) {
    for (int card = 0; card < 8; ++card) {
        before.push_back("open /dev/dri/card" + std::to_string(card) + " failed (no card)");
    }
    before.push_back(kHandOff);
    return before;
}
const char kNoCard[] = "kms card: /dev/dri/card0: No such file or directory\n";

struct failure_case {
    const char* name;
    run_options options;
    std::string out;
    std::string err;
    std::vector<std::string> events;
};

// Every failure on the way to a mapped screen is reported once, releases exactly what was
// acquired, and still hands off and exits with 0.
const failure_case kFailureCases[] = {
    {"NoShell",
     device("20x10x32", "", false),
     kStartLine,
     "sh: No such file or directory\n",
     {"system NULL -> 0", kHandOff}},
    {"DeviceCannotBeOpened", device("20x10x32", "open"), kStartLine,
     std::string("fb0 dev open: No such file or directory\n") + kNoCard,
     without_cards({kShellAsked, "open /dev/graphics/fb0 failed (injected)"})},
    {"NoDevice", device(""), kStartLine,
     std::string("fb0 dev open: No such file or directory\n") + kNoCard,
     without_cards({kShellAsked, "open /dev/graphics/fb0 failed (no screen)"})},
    {"DescriptionFails",
     device("20x10x32", "ioctl"),
     kStartLine,
     "fb0 dev ioctl: Invalid argument\n",
     {kShellAsked, kOpen, "ioctl fb FBIOGET_VSCREENINFO failed (injected)", kClose, kHandOff}},
    {"MappingFails",
     device("20x10x32", "mmap"),
     kStartLine + description_block(20, 10, 20, 10, 32),
     // The C library's own words: glibc and bionic word ENOMEM differently.
     std::string("fb0 dev mmap: ") + std::strerror(ENOMEM) + "\n",
     {kShellAsked, kOpen, kDescribe, kDescribeFixed, "mmap fb length=800 failed (injected)", kClose,
      kHandOff}},
    // Without the fixed description the screen is taken as packed rows, and the run goes on.
    {"FixedDescriptionFails",
     device("20x10x32", "fixed"),
     kStartLine + description_block(20, 10, 20, 10, 32),
     "fb0 dev fixed ioctl: Invalid argument\nbmp_open: No such file or directory\n",
     {kShellAsked, kOpen, kDescribe, "ioctl fb FBIOGET_FSCREENINFO failed (injected)",
      "mmap fb length=800 offset=0 prot=rw shared", "munmap fb length=800", kClose, kHandOff}},
    // A depth below 8 bits gives a buffer of 0 bytes: nothing to map.
    {"DepthBelowOneByte",
     device("20x10x4"),
     kStartLine + description_block(20, 10, 20, 10, 4),
     "fb0 dev mmap: Invalid argument\n",
     {kShellAsked, kOpen, kDescribe, kDescribeFixed, kClose, kHandOff}},
    // 32768 x 16384 x 4 bytes is 2^31: one past the largest buffer size.
    {"BufferSizeOverflows",
     device("32768x16384x32"),
     kStartLine + description_block(32768, 16384, 32768, 16384, 32),
     "fb0 dev mmap: Value too large for defined data type\n",
     {kShellAsked, kOpen, kDescribe, kDescribeFixed, kClose, kHandOff}},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const failure_case& c, std::ostream* os) {
    *os << c.name;
}

class StartupFailure : public testing::TestWithParam<failure_case> {};

TEST_P(StartupFailure, ReportsReleasesWhatIsHeldAndHandsOff) {
    const failure_case& c = GetParam();
    const run_result r = run_program(c.options);
    EXPECT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(without_fd(r.events), c.events);
}

INSTANTIATE_TEST_SUITE_P(Startup, StartupFailure, testing::ValuesIn(kFailureCases),
                         [](const testing::TestParamInfo<failure_case>& info) {
                             return std::string(info.param.name);
                         });

struct success_case {
    const char* name;
    const char* screen;
    int bpp;
    long buffersize;
};

const success_case kSuccessCases[] = {
    {"Depth16", "20x10x16", 16, 400},
    {"Depth24", "20x10x24", 24, 600},
    {"Depth32", "20x10x32", 32, 800},
};

void PrintTo(const success_case& c, std::ostream* os) {
    *os << c.name;
}

class StartupSuccess : public testing::TestWithParam<success_case> {};

// A working screen is described, mapped whole and shared with the device, then unmapped with
// the same length before its handle is closed, and only then handed off. With no pictures to
// load the animation stops at the title, and nothing is written to the screen.
TEST_P(StartupSuccess, DescribesMapsReleasesInOrderAndHandsOff) {
    const success_case& c = GetParam();
    run_options o = device(c.screen);
    o.media_dir = "/nonexistent/zelt-media";
    o.virtual_size = "24x30";
    const run_result r = run_program(o);
    const std::string length = std::to_string(c.buffersize);
    EXPECT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, kStartLine + description_block(20, 10, 24, 30, c.bpp));
    EXPECT_EQ(r.err, "bmp_open: No such file or directory\n");
    EXPECT_EQ(without_fd(r.events),
              (std::vector<std::string>{kShellAsked, kOpen, kDescribe, kDescribeFixed,
                                        "mmap fb length=" + length + " offset=0 prot=rw shared",
                                        "fopen /ZELT/media/zelttitle.bmp",
                                        "munmap fb length=" + length, kClose, kHandOff}));
    EXPECT_TRUE(r.canary_intact);
    EXPECT_EQ(r.screen, std::vector<uint8_t>(r.screen.size(), 0x5a));
}

INSTANTIATE_TEST_SUITE_P(Startup, StartupSuccess, testing::ValuesIn(kSuccessCases),
                         [](const testing::TestParamInfo<success_case>& info) {
                             return std::string(info.param.name);
                         });

// Arguments change nothing: the sequence is fixed.
TEST(Startup, IgnoresArguments) {
    run_options with_args = device("20x10x32");
    const run_result plain = run_program(with_args);
    with_args.args = {"--help", "-x"};
    const run_result r = run_program(with_args);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, plain.out);
    EXPECT_EQ(r.events.size(), plain.events.size());
}

}  // namespace
