// The program on a KMS card, where /dev/graphics/fb0 does not exist, run for real against the
// device double's card: its display shows the dumb buffer only at the mode setting and at each
// DIRTYFB, so every frame copy below is what the program presented.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "tests/player/media_folder.h"
#include "tests/player/run_program.h"
#include "tests/player/screen_model.h"

namespace {

using testing::Contains;
using testing::HasSubstr;
using testing::Not;

constexpr long kCycles = 8;
constexpr uint32_t kPitch = 96;  // rows padded past the 64 bytes of 16 pixels
const char kNoFb0[] = "fb0 dev open: No such file or directory\n";
const char kHandOff[] = "system \"start recovery\"";
// Closing the card: CRTC 40 shows the console's framebuffer again on Virtual-1 (id 33), in its
// own mode and from its own offsets, unlike the player's, CRTC 41 is off and nothing is left.
const char kReleased[] = "close kms crtc40=fb50@33:640x480+0+480 crtc41=off left=none";
// The same with the console on HDMI-A-1 (id 31): that display is left as it was.
const char kOtherLeftLit[] = "close kms crtc40=fb50@31:640x480+0+480 crtc41=off left=none";

struct kms_case {
    const char* name;
    const char* fail;   // ZELT_DOUBLE_KMS_FAIL
    const char* error;  // the line after kNoFb0; "" when it plays
    int errnum = 0;     // the line ends in this error's text (the C libraries word it apart)
    const char* displays = "";  // ZELT_DOUBLE_KMS_DISPLAYS
    unsigned crtc = 40;         // the CRTC it plays on
    const char* released = kReleased;
};

const kms_case kCases[] = {
    {"Plays", "", ""},
    {"PlaysThroughTheOlderAddfb", "addfb2", ""},
    {"PlaysWhereTheDriverNeedsNoDirtyfb", "dirtyfb", ""},
    {"PlaysOnAnIdleCrtcLeavingTheOtherDisplayLit", "", "", 0, "hdmi-lit", 41, kOtherLeftLit},
    {"GivesTheOtherDisplayItsOnlyCrtcBack", "", "", 0, "hdmi-lit-one-crtc", 40, kOtherLeftLit},
    {"FallsBackToADisplayOfUnknownState", "", "", 0, "virtual-unknown"},
    {"PrefersTheConnectedDisplayToAnUnknownOne", "", "", 0, "hdmi-unknown"},
    {"PlaysWhereTheModeListChangesMeanwhile", "", "", 0, "hotplug"},
    {"PlaysWithHundredsOfModes", "", "", 0, "many-modes"},
    {"NoResources", "resources", "kms resources: /dev/dri/card0: Invalid argument\n"},
    {"NoDisplayConnected", "connector", "kms connector: /dev/dri/card0: no connected display\n"},
    {"NoMode", "mode", "kms mode: /dev/dri/card0: the connected display offers no mode\n"},
    {"NoCrtc", "crtc", "kms crtc: /dev/dri/card0: no CRTC can drive the connected display\n"},
    {"CrtcStateUnreadable", "getcrtc", "kms crtc state: Invalid argument\n"},
    {"NoBuffer", "create", "kms dumb buffer: ", ENOMEM},
    {"NoFramebuffer", "addfb", "kms framebuffer: Invalid argument\n"},
    {"BufferNotMappable", "map", "kms map: Invalid argument\n"},
    {"MappingFails", "mmap", "kms map: ", ENOMEM},
    {"HeldByAnotherProgram", "held",
     "kms set crtc: Permission denied: another program holds the display (stop Android's UI "
     "first)\n"},
};

void PrintTo(const kms_case& c, std::ostream* os) {
    *os << c.name;
}

class Kms : public testing::TestWithParam<kms_case> {
protected:
    void SetUp() override { dir_ = make_media_folder(standard_media()); }
    void TearDown() override { remove_media_folder(dir_); }
    std::string dir_;
};

// Plays with every cycle the intended picture on the display, rows the buffer's pitch apart; or
// reports the failed step in one line, frees everything it took and hands off.
TEST_P(Kms, PlaysOrReportsFreesAndHandsOff) {
    const kms_case& c = GetParam();
    run_options o;
    o.media_dir = dir_;
    o.end_after_frames = kCycles;
    o.save_frames = true;
    o.env = {"ZELT_DOUBLE_KMS=16x70", "ZELT_DOUBLE_KMS_PITCH=" + std::to_string(kPitch),
             std::string("ZELT_DOUBLE_KMS_FAIL=") + c.fail,
             std::string("ZELT_DOUBLE_KMS_DISPLAYS=") + c.displays};
    const run_result r = run_program(o);
    ASSERT_TRUE(r.exited) << "signal " << r.signal << "\n" << r.err;
    EXPECT_EQ(r.exit_status, 0);
    const std::string error =
        c.error + (c.errnum != 0 ? std::string(strerror(c.errnum)) + "\n" : std::string());
    EXPECT_EQ(r.err, kNoFb0 + error);
    EXPECT_THAT(r.events, Contains(c.released));
    ASSERT_FALSE(r.events.empty());
    EXPECT_EQ(r.events.back(), kHandOff);
    // Past finding the display, the description block and the display's line are printed.
    if (std::string(c.error).find("/dev/dri") == std::string::npos) {
        EXPECT_THAT(r.out, HasSubstr("x-resolution: 16\ny-resolution: 70\nx-resolution-virtual: "
                                     "16\ny-resolution-vritual: 70\nbpp: 32\nkms display: "
                                     "/dev/dri/card0, connector Virtual-1 (id 33), mode "
                                     "16x70@60, crtc " +
                                     std::to_string(c.crtc) + "\n"));
    }
    if (!error.empty()) {
        EXPECT_THAT(r.events, Not(Contains("pthread_create ui")));
        return;
    }
    const fb_var_screeninfo screen = screen_model_make("16x70x32:16/8,8/8,0/8", 0).screen;
    std::vector<rgb_picture> decoded;
    for (const char* file : kMediaFiles) {
        decoded.push_back(decode_picture(dir_ + "/" + file));
    }
    ASSERT_GE(r.frames.size(), static_cast<size_t>(kCycles));
    rgb_picture intended = intended_make(screen);
    for (size_t i = 0; i < r.frames.size(); ++i) {
        SCOPED_TRACE("display at frame sleep " + std::to_string(i + 1));
        intended_draw(&intended, decoded[0], 0, 0);
        intended_draw(&intended, decoded[1 + i % 6], 0, 50);
        ASSERT_EQ(screen_seen(screen, kPitch, r.frames[i]).pixels, intended.pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(Player, Kms, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<kms_case>& info) {
                             return std::string(info.param.name);
                         });

// Where fb0 exists the card is never looked at; where no card exists either, the card's report
// follows fb0's and the run hands off.
TEST(KmsNotUsed, WithFb0PresentOrNoCard) {
    run_options o;
    o.screen = "16x70x32";
    o.fail = "ioctl";  // stops the run early: only the opening matters here
    o.env = {"ZELT_DOUBLE_KMS=16x70"};
    run_result r = run_program(o);
    for (const std::string& e : r.events) {
        EXPECT_THAT(e, Not(HasSubstr("kms")));
        EXPECT_THAT(e, Not(HasSubstr("/dev/dri")));
    }
    o = run_options{};
    r = run_program(o);
    EXPECT_EQ(r.err, kNoFb0 + std::string("kms card: /dev/dri/card0: No such file or directory\n"));
    EXPECT_THAT(r.events, Contains("open /dev/dri/card7 failed (no card)"));
    EXPECT_THAT(r.events, Contains(kHandOff));
}

}  // namespace
