// The double's threads, clock and media folder, exercised by a small program that uses them the
// way the animation does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/player/run_program.h"

namespace {

using testing::Contains;
using testing::Not;

run_options probe(const char* fail = "") {
    run_options o;
    o.program = ZELT_PROBE_PATH;
    o.screen = "4x2x32";
    o.fail = fail;
    return o;
}

// Position of `event` in the log, or the log's length when it is missing.
size_t position(const std::vector<std::string>& events, const std::string& event) {
    return static_cast<size_t>(std::find(events.begin(), events.end(), event) - events.begin());
}

TEST(DoubleThreads, EndsTheWorkerAfterTheFramesAndCopiesEachFrame) {
    run_options o = probe();
    o.end_after_frames = 3;
    o.save_frames = true;
    const run_result r = run_program(o);
    ASSERT_TRUE(r.exited) << "signal " << r.signal << "\n" << r.err;
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "ui exit\n");
    ASSERT_GE(r.frames.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r.frames[i], std::vector<uint8_t>(32, static_cast<uint8_t>(i + 1)))
            << "frame " << i + 1;
    }
    const auto& e = r.events;
    EXPECT_THAT(e, Contains("usleep ui 500000"));
    EXPECT_THAT(e, Contains("usleep worker 30000000"));
    // The worker ends only once the third frame has passed, and the UI thread is joined after
    // it, before the screen is released.
    EXPECT_LT(position(e, "frame 3"), position(e, "thread worker ended by the double"));
    EXPECT_LT(position(e, "thread worker ended by the double"), position(e, "pthread_join worker"));
    EXPECT_LT(position(e, "pthread_join worker"), position(e, "pthread_join ui"));
    EXPECT_LT(position(e, "pthread_join ui"), position(e, "munmap fb length=32"));
}

struct creation_failure {
    const char* name;
    const char* fail;
    const char* out;
    bool ui_joined;
};

const creation_failure kCreationFailures[] = {
    {"FirstThread", "thread1", "ui not created\n", false},
    {"SecondThread", "thread2", "worker not created\nui exit\n", true},
};

void PrintTo(const creation_failure& c, std::ostream* os) {
    *os << c.name;
}

class DoubleThreadCreation : public testing::TestWithParam<creation_failure> {};

TEST_P(DoubleThreadCreation, FailsTheChosenCreationWithoutStartingIt) {
    const creation_failure& c = GetParam();
    const run_result r = run_program(probe(c.fail));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_THAT(r.out, testing::EndsWith(c.out));
    EXPECT_THAT(r.events, Not(Contains("pthread_create worker")));
    EXPECT_THAT(r.events, Not(Contains("pthread_join worker")));
    EXPECT_EQ(position(r.events, "pthread_join ui") < r.events.size(), c.ui_joined);
}

INSTANTIATE_TEST_SUITE_P(Double, DoubleThreadCreation, testing::ValuesIn(kCreationFailures),
                         [](const testing::TestParamInfo<creation_failure>& info) {
                             return std::string(info.param.name);
                         });

// The settings reach the program whole, also under an emulator: a channel description holds
// commas, where qemu's -E would split it.
TEST(DoubleSettings, ReachTheProgramWholeWithTheChannelDescription) {
    run_options o = probe();
    o.screen = "4x2x16:11/5,5/6,0/5";
    o.args = {"describe"};
    const run_result r = run_program(o);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "4x2x16 red 11/5 green 5/6 blue 0/5\n");
    EXPECT_EQ(r.err, "");
}

// Every open of the C library, the checked ones of fortified builds included, reaches the double:
// the screen it stands in for opens, and no other display device of the host is reached.
TEST(DoubleOpen, EveryEntryOpensTheScreenAndRefusesTheHostsDisplays) {
    const struct {
        const char* path;
        std::string result;
        std::string event;  // how the log begins the line of each open
    } cases[] = {
        {"/dev/graphics/fb0", "ok", "open /dev/graphics/fb0 fd="},
        {"/dev/graphics/fb1", std::strerror(ENOENT), "open /dev/graphics/fb1 refused"},
        {"/dev/dri/renderD128", std::strerror(ENOENT), "open /dev/dri/renderD128 refused"},
    };
    std::vector<std::string> entries = {"open", "__open_2"};
#if !defined(__BIONIC__)
    entries.push_back("__open64_2");
#endif
    run_options o = probe();
    o.args = {"open"};
    std::string expected;
    for (const std::string& entry : entries) {
        for (const auto& c : cases) {
            expected += entry + " " + c.path + ": " + c.result + "\n";
        }
    }
    for (const auto& c : cases) {
        o.args.push_back(c.path);
    }
    const run_result r = run_program(o);
    EXPECT_EQ(r.out, expected) << r.err;
    for (const auto& c : cases) {
        EXPECT_EQ(std::count_if(r.events.begin(), r.events.end(),
                                [&](const std::string& e) { return e.rfind(c.event, 0) == 0; }),
                  static_cast<long>(entries.size()))
            << c.event;
    }
}

TEST(DoubleMedia, RedirectsTheMediaFolder) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zelt-media-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "probe.txt") << "hello";
    run_options o = probe("thread1");
    o.media_dir = dir.string();
    const run_result r = run_program(o);
    fs::remove_all(dir);
    EXPECT_THAT(r.out, testing::StartsWith("media: hello\n"));
    EXPECT_THAT(r.events, Contains("fopen /ZELT/media/probe.txt"));
}

}  // namespace
