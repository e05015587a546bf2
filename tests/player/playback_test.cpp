// The whole program playing, run for real against the device double: the pictures it loads,
// what each frame leaves on the screen, the sleeps it asks for, how it stops, and what it does
// when a picture or a thread is missing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "check/screen_format.h"
#include "tests/player/media_folder.h"
#include "tests/player/run_program.h"
#include "tests/player/screen_model.h"
#include "tests/support/address_cap.h"

namespace {

using testing::Contains;
using testing::EndsWith;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

constexpr long kCycles = 14;  // more than two passes through the six frames
constexpr uint8_t kOldContent = 0x5a;
const char kHandOff[] = "system \"start recovery\"";
const char kFramePeriod[] = "usleep ui 500000";
const char kWorkerIdle[] = "usleep worker 30000000";
const char kPanPrefix[] = "ioctl fb FBIOPAN_DISPLAY";

// Position of the first event equal to `event`, or the log's length when there is none.
size_t position(const std::vector<std::string>& events, const std::string& event) {
    return static_cast<size_t>(std::find(events.begin(), events.end(), event) - events.begin());
}

// The thread identifier the double saw for `role` ("ui", "worker"), or "" when none started.
std::string thread_id(const std::vector<std::string>& events, const std::string& role) {
    const std::string prefix = "thread " + role + " id=";
    for (const std::string& e : events) {
        if (e.rfind(prefix, 0) == 0) {
            return e.substr(prefix.size());
        }
    }
    return "";
}

// Everything up to the loading: shell, device, description, mapping.
std::vector<std::string> startup_events(long buffersize) {
    return {"system NULL -> 1", "open /dev/graphics/fb0", "ioctl fb FBIOGET_VSCREENINFO",
            "ioctl fb FBIOGET_FSCREENINFO",
            "mmap fb length=" + std::to_string(buffersize) + " offset=0 prot=rw shared"};
}

std::vector<std::string> fopen_events(int count) {
    std::vector<std::string> events;
    for (int i = 0; i < count; ++i) {
        events.push_back(std::string("fopen /ZELT/media/") + kMediaFiles[i]);
    }
    return events;
}

std::vector<std::string> release_events(long buffersize) {
    return {"munmap fb length=" + std::to_string(buffersize), "close fb", kHandOff};
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The device handle's number is the system's choice.
std::vector<std::string> without_fd(std::vector<std::string> events) {
    for (std::string& e : events) {
        if (e.rfind("open /dev/graphics/fb0 fd=", 0) == 0) {
            e = "open /dev/graphics/fb0";
        }
    }
    return events;
}

std::string start_and_description(const screen_model& m) {
    const std::string x = std::to_string(m.screen.xres);
    const std::string y = std::to_string(m.screen.yres);
    return "start ZELT animation.\nx-resolution: " + x + "\ny-resolution: " + y +
           "\nx-resolution-virtual: " + x + "\ny-resolution-vritual: " + y +
           "\nbpp: " + std::to_string(m.screen.bits_per_pixel) + "\n";
}

// Standard output of a run that played on `screen` until the worker was ended: the start line,
// the description, both threads' start lines in either order, the UI thread's exit line.
bool printed_as_played(const run_result& r, const char* screen) {
    const std::string ui = "ui_thread_function() " + thread_id(r.events, "ui") + " started.\n";
    const std::string worker =
        "worker_thread_function() " + thread_id(r.events, "worker") + " started.\n";
    const std::string head = start_and_description(screen_model_make(screen, 0));
    const std::string tail = "ui_thread_function() exit.\n";
    return r.out == head + ui + worker + tail || r.out == head + worker + ui + tail;
}

// The UI thread's own events of a run, in order: pans and frame sleeps.
std::vector<std::string> pans_and_sleeps(const std::vector<std::string>& events) {
    std::vector<std::string> seen;
    for (const std::string& e : events) {
        if (e.rfind(kPanPrefix, 0) == 0 || e == kFramePeriod) {
            seen.push_back(e);
        }
    }
    return seen;
}

class MediaTest : public testing::Test {
protected:
    void SetUp() override { dir_ = make_media_folder(standard_media()); }
    void TearDown() override { remove_media_folder(dir_); }

    run_options playing(const char* screen) const {
        run_options o;
        o.screen = screen;
        o.media_dir = dir_;
        o.end_after_frames = kCycles;
        o.screen_fill = kOldContent;
        return o;
    }

    std::string dir_;
};

// ---------------------------------------------------------------------------------------------
// Playing: the screens below are 16 pixels wide; the title (12 x 60) leaves columns 12 to 15
// to the frames, and frame 0 (20 wide) and frame 2 (30 tall) reach past the screen's edges.

struct playing_case {
    const char* name;
    const char* screen;
    int too_large = -1;             // this picture is replaced by one too large to convert
    const char* virtual_size = "";  // "WxH"; "": the visible size
    const char* fail = "";          // the device call made to fail
    bool shows_intended = false;    // as it is, though not packed b, g, r rows at offset 0
    const char* env = "";           // one more setting of the double, "NAME=value"
    bool pans_refused = false;      // the driver refuses every pan: the panel shows nothing
};

const playing_case kPlayingCases[] = {
    {"Depth32", "16x70x32"},
    {"Depth24", "16x70x24"},
    {"Depth16RGB565", "16x70x16"},
    {"Depth16BGR565", "16x70x16:0/5,5/6,11/5"},
    // Frames start below the screen: only the title is drawn, cut at the bottom.
    {"FortyRows", "16x40x32"},
    // Frames start exactly at the bottom edge: nothing of them fits.
    {"FiftyRows", "16x50x24"},
    // A title the reader takes but whose converted copy would pass the same limit is refused
    // and draws nothing; the frames play over the cleared screen.
    {"TitleTooLargeToConvert", "16x70x32", 0},
    // Layouts of real drivers, followed: padded rows, red first, a shown page elsewhere.
    {"RowsPadded32", "15x70x32:pitch=64", -1, "", "", true},
    {"RowsPadded24OddWidth", "15x70x24:pitch=48", -1, "", "", true},
    {"RowsPadded16", "15x70x16:pitch=32", -1, "", "", true},
    {"RedFirst32", "16x70x32:0/8,8/8,16/8", -1, "", "", true},
    {"RedFirst24", "16x70x24:0/8,8/8,16/8", -1, "", "", true},
    {"SecondPageShown", "16x70x32:page=0,70", -1, "16x140", "", true},
    {"PageAtAnXOffset", "16x70x32:pitch=96:page=8,0", -1, "24x70", "", true},
    {"AllAtOnce", "15x70x24:0/8,8/8,16/8:pitch=60:page=3,70", -1, "20x140", "", true},
    // A shown page the memory does not hold (or a driver that does not say): the first page,
    // its rows the driver's pitch apart where the memory holds them.
    {"PageBeyondMemoryRowsPadded", "16x70x32:pitch=128:page=0,70:smem=8960", -1, "16x140", "",
     true},
    {"PageWithoutMemorySizeRowsPadded", "16x70x32:pitch=128:page=0,70", -1, "16x140", "", true,
     "ZELT_DOUBLE_SMEM=0"},
    // The kernel refuses a pan off the driver's pan steps; one to the first page needs none.
    {"SecondPageWithoutVerticalPanning", "16x70x32:page=0,70", -1, "16x140", "", true,
     "ZELT_DOUBLE_YPANSTEP=0", true},
    {"XOffsetOffThePanStep", "16x70x32:pitch=96:page=8,0", -1, "24x70", "", true,
     "ZELT_DOUBLE_XPANSTEP=16", true},
    {"FirstPageWithoutPanning", "16x70x32", -1, "", "", false, "ZELT_DOUBLE_YPANSTEP=0"},
    // Where the driver's word cannot be followed: packed b, g, r rows from offset 0, as always;
    // a panel that scans them line_length apart shows them leaning.
    {"FixedDescriptionFails", "16x70x32:pitch=80:page=0,70", -1, "16x140", "fixed"},
    {"FirstPageBeyondMemoryAtPitch", "16x70x32:pitch=128:page=0,70:smem=8895", -1, "16x140"},
    {"LineLengthZero", "16x70x32:pitch=0"},
    {"PageBeyondMemory", "16x70x32:page=0,70:smem=4480", -1, "16x140"},
    // No memory size (smem_len 0: no line_length to work one out from): the first page only.
    {"PageWithoutMemorySize", "16x70x32:pitch=0:page=0,70", -1, "16x140"},
    {"FieldsAllZero32", "16x70x32:0/0,0/0,0/0"},
};

// A valid 1-bit picture of 65535 x 32000 pixels: 262 MB of rows as read (the file holds none of
// them, so they read as zeros), 8.4 GB once converted for a 32-bit screen.
std::vector<uint8_t> too_large_to_convert() {
    bmp_write_options options;
    options.encoding = bmp_encoding::palette1;
    std::vector<uint8_t> bytes = bmp_encode(rgb_picture_make(1, 1, 0xFFFFFF), options, nullptr);
    const uint32_t width = 65535;
    const uint32_t height = 32000;
    memcpy(&bytes[18], &width, sizeof width);
    memcpy(&bytes[22], &height, sizeof height);
    bytes.resize(bytes.size() - 4);  // the one stored row
    return bytes;
}

// More than the program needs with the largest picture the reader takes, far less than a
// converted copy of it. Sanitizer runtimes reserve more than any such cap.
constexpr long kProgramAddressSpace = 1L << 30;

void PrintTo(const playing_case& c, std::ostream* os) {
    *os << c.name;
}

class Playing : public MediaTest, public testing::WithParamInterface<playing_case> {};

// What a panel shows of `memory` on its first page: `rows` rows of `row` bytes, `pitch` bytes
// apart, packed; a row past the memory dark.
std::vector<uint8_t> first_page(const std::vector<uint8_t>& memory, size_t row, size_t rows,
                                size_t pitch) {
    std::vector<uint8_t> page(row * rows, 0);
    for (size_t y = 0; y < rows && y * pitch + row <= memory.size(); ++y) {
        std::copy_n(memory.begin() + static_cast<long>(y * pitch), row,
                    page.begin() + static_cast<long>(y * row));
    }
    return page;
}

// The screen is cleared once; then each cycle draws and pans once before it sleeps, and what a
// panel that shows only the page of the last pan shows at each sleep is the screen the earlier
// cycles left with the title at (0, 0) and frame i mod 6 at (0, 50) drawn over it (nothing where
// every pan is refused). Where the player follows the driver's pitch, that is the picture as it
// is, on the page the player pans to; where the player packs rows that the screen scans further
// apart (the driver's pitch unknown, or its first page beyond the memory), the packed rows the
// memory holds from offset 0, scanned rows line_length apart.
TEST_P(Playing, EachFrameLeavesTheTitleAndTheNextFrameOverWhatCameBefore) {
    const playing_case& c = GetParam();
    std::vector<rgb_picture> decoded;
    for (const char* file : kMediaFiles) {
        decoded.push_back(decode_picture(dir_ + "/" + file));
    }
    std::string report;
    if (std::string(c.fail) == "fixed") {
        report = std::string("fb0 dev fixed ioctl: ") + strerror(EINVAL) + "\n";
    }
    if (c.too_large >= 0) {
        replace_media_file(dir_, c.too_large, too_large_to_convert(), false);
        decoded[static_cast<size_t>(c.too_large)] = rgb_picture{};
        report = std::string("prepare_bitmap: ") + strerror(EFBIG) + "\n";
    }
    run_options o = playing(c.screen);
    o.virtual_size = c.virtual_size;
    o.fail = c.fail;
    o.save_frames = true;
    if (*c.env != '\0') {
        o.env.push_back(c.env);
    }
    // The panel shows the memory only as the last pan left it: every frame below is what the
    // program told the driver to show.
    o.env.push_back("ZELT_DOUBLE_PANEL=waits");
#ifndef ZELT_SANITIZED
    o.env.push_back("ZELT_DOUBLE_ADDRESS_SPACE=" + std::to_string(kProgramAddressSpace));
#endif
    const run_result r = run_program(o);
    ASSERT_TRUE(r.exited) << "signal " << r.signal << "\n" << r.err;
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, report);
    EXPECT_THAT(r.events, Contains(kHandOff));
    EXPECT_TRUE(r.canary_intact) << "written past the screen memory";
    ASSERT_GE(r.frames.size(), static_cast<size_t>(kCycles));

    screen_description screen{};
    ASSERT_EQ(parse_screen_description(c.screen, &screen, nullptr), 0);
    // Each frame sleep follows exactly one pan; the page it names is the one the panel shows.
    const std::vector<std::string> ui_events = pans_and_sleeps(r.events);
    ASSERT_EQ(ui_events.size(), 2 * r.frames.size());
    for (size_t i = 0; i < ui_events.size(); i += 2) {
        EXPECT_THAT(ui_events[i], StartsWith(kPanPrefix)) << "cycle " << i / 2 + 1;
        EXPECT_EQ(ui_events[i].find(" refused") != std::string::npos, c.pans_refused);
        EXPECT_EQ(ui_events[i + 1], kFramePeriod) << "cycle " << i / 2 + 1;
    }
    // The waiting panel's copies are its page's rows, packed.
    fb_var_screeninfo page = screen.var;
    page.xoffset = page.yoffset = 0;
    const size_t row = packed_row_bytes(page);
    screen_model model = screen_model_make(c.screen, 0);
    rgb_picture intended = intended_make(screen.var);
    for (size_t i = 0; i < r.frames.size(); ++i) {
        SCOPED_TRACE("screen at frame sleep " + std::to_string(i + 1));
        if (c.pans_refused) {
            ASSERT_EQ(r.frames[i], std::vector<uint8_t>(row * page.yres, 0));
        } else if (c.shows_intended) {
            intended_draw(&intended, decoded[0], 0, 0);
            intended_draw(&intended, decoded[1 + i % 6], 0, 50);
            rgb_picture shown = intended;
            intended_cut_to_fields(screen.var, &shown);
            ASSERT_EQ(screen_seen(page, static_cast<uint32_t>(row), r.frames[i]).pixels,
                      shown.pixels);
        } else {
            screen_model_draw(&model, decoded[0], 0, 0);
            screen_model_draw(&model, decoded[1 + i % 6], 0, 50);
            std::vector<uint8_t> memory = model.bytes;
            memory.resize(std::max(memory.size(), r.screen.size()), kOldContent);
            ASSERT_EQ(r.frames[i], first_page(memory, row, page.yres,
                                              std::max<size_t>(screen.line_length, row)));
        }
    }
    if (!c.shows_intended) {
        // After its last sleep the UI thread saw the flag and drew nothing more; past the
        // packed screen the memory kept what it held.
        ASSERT_GE(r.screen.size(), model.bytes.size());
        EXPECT_EQ(std::vector<uint8_t>(r.screen.begin(),
                                       r.screen.begin() + static_cast<long>(model.bytes.size())),
                  model.bytes);
        EXPECT_EQ(std::vector<uint8_t>(r.screen.begin() + static_cast<long>(model.bytes.size()),
                                       r.screen.end()),
                  std::vector<uint8_t>(r.screen.size() - model.bytes.size(), kOldContent));
    }
}

INSTANTIATE_TEST_SUITE_P(Player, Playing, testing::ValuesIn(kPlayingCases),
                         [](const testing::TestParamInfo<playing_case>& info) {
                             return std::string(info.param.name);
                         });

// A display scans the memory while the UI thread draws. Watched at one pixel inside the frames'
// place on a large screen, that pixel goes from one frame's colour to another's, never back to
// the title's in between. The colours differ in their blue byte only, so a read that catches a
// pixel half written shows one colour or the other.
TEST(PlayerFlash, TheFramesPlaceNeverShowsTheBareTitle) {
    constexpr uint32_t kTitle = 0x4080F0;
    std::vector<media_picture> media{{rgb_picture_make(1920, 1600, kTitle), {}}};
    std::vector<uint32_t> frames;
    for (uint32_t i = 0; i < 6; ++i) {
        frames.push_back(0x408010 + 0x10 * i);
        media.push_back({rgb_picture_make(1920, 400, frames.back()), {}});
    }
    for (media_picture& m : media) {
        m.options.encoding = bmp_encoding::rle8;
    }
    const std::string dir = make_media_folder(media);
    run_options o;
    o.screen = "1920x1600x32";
    o.media_dir = dir;
    o.end_after_frames = 40;
    o.frame_us = 3000;
    o.env.push_back("ZELT_DOUBLE_WATCH=100,100");
    const run_result r = run_program(o);
    remove_media_folder(dir);
    ASSERT_TRUE(r.exited) << r.err;

    std::vector<uint32_t> seen;
    for (const std::string& e : r.events) {
        if (e.rfind("watch 0x", 0) == 0) {
            seen.push_back(static_cast<uint32_t>(std::stoul(e.substr(8), nullptr, 16)) & 0xFFFFFF);
        }
    }
    const auto first = std::find(seen.begin(), seen.end(), frames[0]);
    ASSERT_NE(first, seen.end()) << "the first frame was never seen";
    EXPECT_THAT(seen, Not(Contains(kTitle)));
    for (auto it = first; it != seen.end(); ++it) {
        EXPECT_THAT(frames, Contains(*it)) << "not a frame's colour: " << std::hex << *it;
    }
}

using Player = MediaTest;

// The pictures are read in table order before any thread starts; the UI thread sleeps one frame
// period per cycle and the worker idles in 30-second steps; each thread announces itself with
// its own identifier.
TEST_F(Player, LoadsInOrderThenPlaysAtTwoFramesPerSecond) {
    const run_result r = run_program(playing("16x70x32"));
    const long buffersize = 16 * 70 * 4;
    const std::vector<std::string> events = without_fd(r.events);
    // The threads' own events may come in between the two creations; leave them out.
    std::vector<std::string> main_thread;
    for (const std::string& e : events) {
        if (e.rfind("thread ", 0) != 0 && e.rfind("usleep ", 0) != 0 && e.rfind("frame ", 0) != 0 &&
            e.rfind(kPanPrefix, 0) != 0) {
            main_thread.push_back(e);
        }
    }
    const std::vector<std::string> start =
        concat(concat(startup_events(buffersize), fopen_events(7)),
               {"pthread_create ui", "pthread_create worker"});
    ASSERT_GE(main_thread.size(), start.size());
    EXPECT_EQ(std::vector<std::string>(main_thread.begin(),
                                       main_thread.begin() + static_cast<long>(start.size())),
              start);

    long frame_sleeps = 0;
    for (const std::string& e : events) {
        if (e.rfind("usleep ", 0) == 0) {
            EXPECT_TRUE(e == kFramePeriod || e == kWorkerIdle) << e;
            frame_sleeps += e == kFramePeriod ? 1 : 0;
        }
    }
    EXPECT_GE(frame_sleeps, kCycles);
    EXPECT_THAT(events, Contains(kWorkerIdle));

    EXPECT_TRUE(printed_as_played(r, "16x70x32")) << r.out;
}

// Whatever the driver answers to the pan after each cycle, the run prints what it always
// printed; only a failure other than a refusal is reported, once, and the animation goes on.
TEST_F(Player, PrintsTheSameWhateverTheDriverAnswersToThePan) {
    const struct {
        const char* fail;
        std::string err;
    } answers[] = {
        {"", ""}, {"pan", ""}, {"pan-io", std::string("fb0 dev pan: ") + strerror(EIO) + "\n"}};
    for (const auto& answer : answers) {
        SCOPED_TRACE(std::string("pan made to fail: ") + answer.fail);
        run_options o = playing("16x70x32");
        o.fail = answer.fail;
        const run_result r = run_program(o);
        ASSERT_TRUE(r.exited) << r.err;
        EXPECT_EQ(r.err, answer.err);
        EXPECT_TRUE(printed_as_played(r, "16x70x32")) << r.out;
        EXPECT_GE(std::count(r.events.begin(), r.events.end(), kFramePeriod), kCycles);
        EXPECT_THAT(r.events, Contains(kHandOff));
    }
}

// Once the worker ends, the flag stops the UI thread, which is waited for; only then is the
// screen unmapped, the device closed and the device handed off.
TEST_F(Player, StopsTheUiThreadBeforeReleasingTheScreen) {
    const run_result r = run_program(playing("16x70x16"));
    ASSERT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_THAT(r.out, EndsWith("ui_thread_function() exit.\n"));
    const std::vector<std::string>& e = r.events;
    const std::vector<std::string> order =
        concat({"thread worker ended by the double", "pthread_join worker", "pthread_join ui"},
               release_events(16 * 70 * 2));
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        EXPECT_LT(position(e, order[i]), position(e, order[i + 1]))
            << order[i] << " before " << order[i + 1];
    }
    ASSERT_FALSE(e.empty());
    EXPECT_EQ(e.back(), kHandOff);
    // No UI sleep (and so no drawing) after the UI thread was joined.
    EXPECT_THAT(std::vector<std::string>(
                    e.begin() + static_cast<long>(position(e, "pthread_join ui")), e.end()),
                Not(Contains(kFramePeriod)));
}

// On the device the program plays until it is stopped from outside. Every progress line printed
// up to then must have reached standard output (a pipe or a file there), even though no exit
// path runs to flush it.
TEST_F(Player, KeepsItsProgressLinesWhenStoppedFromOutside) {
    run_options o = playing("16x70x32");
    o.end_after_frames = -1;
    o.env.push_back("ZELT_DOUBLE_KILL_AFTER=2");
    const run_result r = run_program(o);
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_THAT(r.out,
                testing::StartsWith(start_and_description(screen_model_make("16x70x32", 0))));
    EXPECT_THAT(r.out, testing::HasSubstr("ui_thread_function() " + thread_id(r.events, "ui") +
                                          " started.\n"));
    EXPECT_THAT(r.out, testing::HasSubstr("worker_thread_function() " +
                                          thread_id(r.events, "worker") + " started.\n"));
    EXPECT_THAT(r.events, Not(Contains(kHandOff)));
}

// ---------------------------------------------------------------------------------------------
// A picture that cannot be read stops the loading at once: the report, no thread, nothing drawn,
// release and hand-off.

struct loading_case {
    const char* name;
    int index;  // which picture is bad
    bool missing;
    std::vector<uint8_t> bytes;  // its content when present
    const char* report;          // exact report, or null: any system text but "Success"
};

const loading_case kLoadingCases[] = {
    {"Zeltani02Missing", 3, true, {}, "bmp_open: No such file or directory\n"},
    {"Zeltani02Empty", 3, false, {}, nullptr},
    {"Zeltani02NotABmp", 3, false, {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, nullptr},
    // A valid signature and file size field, then nothing.
    {"Zeltani02Truncated", 3, false, {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0}, nullptr},
    {"TitleMissing", 0, true, {}, "bmp_open: No such file or directory\n"},
};

void PrintTo(const loading_case& c, std::ostream* os) {
    *os << c.name;
}

class BadPicture : public MediaTest, public testing::WithParamInterface<loading_case> {};

TEST_P(BadPicture, ReportsAndHandsOffWithoutDrawing) {
    const loading_case& c = GetParam();
    replace_media_file(dir_, c.index, c.bytes, c.missing);
    const run_result r = run_program(playing("16x70x32"));
    const long buffersize = 16 * 70 * 4;
    ASSERT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, start_and_description(screen_model_make("16x70x32", 0)));
    if (c.report != nullptr) {
        EXPECT_EQ(r.err, c.report);
    } else {
        EXPECT_THAT(r.err, StartsWith("bmp_open: "));
        EXPECT_THAT(r.err, EndsWith("\n"));
        EXPECT_NE(r.err, "bmp_open: \n");
        EXPECT_THAT(r.err, Not(HasSubstr("Success")));
    }
    EXPECT_EQ(without_fd(r.events),
              concat(concat(startup_events(buffersize), fopen_events(c.index + 1)),
                     release_events(buffersize)));
    EXPECT_EQ(r.screen, std::vector<uint8_t>(static_cast<size_t>(buffersize), kOldContent));
    EXPECT_TRUE(r.canary_intact);
}

INSTANTIATE_TEST_SUITE_P(Player, BadPicture, testing::ValuesIn(kLoadingCases),
                         [](const testing::TestParamInfo<loading_case>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// A thread that cannot be created: the report carries the creation's own error, a UI thread
// already running is stopped before the release, and the device is handed off.

struct creation_case {
    const char* name;
    const char* fail;
    std::vector<std::string> threads;  // events of the thread creations and joins, in order
};

const creation_case kCreationCases[] = {
    {"UiThread", "thread1", {"pthread_create ui failed (injected)"}},
    {"WorkerThread",
     "thread2",
     {"pthread_create ui", "pthread_create worker failed (injected)", "pthread_join ui"}},
};

void PrintTo(const creation_case& c, std::ostream* os) {
    *os << c.name;
}

class ThreadCreation : public MediaTest, public testing::WithParamInterface<creation_case> {};

TEST_P(ThreadCreation, ReportsStopsTheUiThreadAndHandsOff) {
    const creation_case& c = GetParam();
    run_options o = playing("16x70x32");
    o.fail = c.fail;
    const run_result r = run_program(o);
    const long buffersize = 16 * 70 * 4;
    ASSERT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exit_status, 0);
    // The double answers EAGAIN without touching errno.
    EXPECT_EQ(r.err, std::string("create ui thread\n: ") + strerror(EAGAIN) + "\n");
    std::vector<std::string> seen;
    for (const std::string& e : without_fd(r.events)) {
        if (e.rfind("pthread_", 0) == 0 || e.rfind("munmap", 0) == 0 || e == "close fb" ||
            e == kHandOff) {
            seen.push_back(e);
        }
    }
    EXPECT_EQ(seen, concat(c.threads, release_events(buffersize)));
    const std::string head = start_and_description(screen_model_make("16x70x32", 0));
    if (c.threads.size() == 1) {
        EXPECT_EQ(r.out, head);
        EXPECT_EQ(r.screen, std::vector<uint8_t>(static_cast<size_t>(buffersize), kOldContent));
    } else {
        EXPECT_EQ(r.out, head + "ui_thread_function() " + thread_id(r.events, "ui") +
                             " started.\nui_thread_function() exit.\n");
    }
    EXPECT_TRUE(r.canary_intact);
}

INSTANTIATE_TEST_SUITE_P(Player, ThreadCreation, testing::ValuesIn(kCreationCases),
                         [](const testing::TestParamInfo<creation_case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
