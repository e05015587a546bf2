// zelt-probe run for real against the device double: the exact report for a screen that fits,
// the key facts and numbers for each way a screen or a media folder can misfit, and in every
// run a read-only open, no mapping, no command run and the screen memory left as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/player/media_folder.h"
#include "tests/player/run_program.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

constexpr uint8_t kScreenFill = 0x5a;  // what the screen memory holds before and after

struct probe_case {
    const char* name;
    std::string screen;            // ZELT_DOUBLE_SCREEN; empty: no framebuffer
    std::vector<std::string> env;  // further settings of the double
    int broken_picture;            // asset replaced by a file cut short; -1: none
    int exit_status;
    std::vector<std::string> facts;  // lines or parts of lines the report holds
    int cut_picture = -1;            // asset whose file is cut to `cut_to` bytes; -1: none
    uintmax_t cut_to = 0;
};

// The exact report for the fitting screen; `start` is where the `start` command was found.
std::string fitting_report(const std::string& start) {
    return "zelt-probe: what zelt-animation will do on this device\n"
           "framebuffer /dev/graphics/fb0: opened read-only\n"
           "  xres 16, yres 70, xres_virtual 16, yres_virtual 70, xoffset 0, yoffset 0, "
           "bits_per_pixel 32\n"
           "  red 16/8, green 8/8, blue 0/8, transp 0/0\n"
           "  line_length 64, smem_len 4480, visual TRUECOLOR\n"
           "ok: depth: 32 bits is one the player draws\n"
           "ok: memory: smem_len 4480 bytes holds the player's mapping of 4480 bytes\n"
           "ok: rows: line_length 64 bytes; the player steps rows by it\n"
           "ok: page: the shown page starts at (0,0), where the player draws\n"
           "ok: present: the player pans to the page it draws after each cycle "
           "(FBIOPAN_DISPLAY), so a panel that shows the memory only when told shows each "
           "frame\n"
           "ok: channels red 16/8, green 8/8, blue 0/8: the player packs each colour at its "
           "field and sets the other bits (opaque)\n"
           "ok: visual TRUECOLOR: pixel values are colours\n"
           "pictures in /ZELT/media/, opened with the player's reader:\n"
           "zelttitle.bmp: 12x60, 24 bpp rgb, 40-byte header; at (0,0) fits, keeps 2880 bytes\n"
           "zeltani00.bmp: 20x8, 8 bpp palette, 40-byte header; at (0,50) clipped by 4x0 px, "
           "keeps 640 bytes\n"
           "zeltani01.bmp: 5x3, 8 bpp rle8, 40-byte header; at (0,50) fits, keeps 60 bytes\n"
           "zeltani02.bmp: 9x30, 4 bpp palette top-down, 40-byte header; at (0,50) clipped by "
           "0x10 px, keeps 1080 bytes\n"
           "zeltani03.bmp: 7x4, 16 bpp bitfields, 40-byte header; at (0,50) fits, keeps 112 "
           "bytes\n"
           "zeltani04.bmp: 3x2, 32 bpp rgb, 40-byte header; at (0,50) fits, keeps 24 bytes\n"
           "zeltani05.bmp: 14x10, 1 bpp palette, 40-byte header; at (0,50) fits, keeps 560 "
           "bytes\n"
           "result: the program plays on a 16x70x32 screen\n"
           "ok: shell: a command processor answers (system(NULL) = 1)\n"
           "ok: start: " +
           start +
           " is on the shell's path (not run)\n"
           "verdict: plays as intended: every picture loads and shows as it is\n"
           "host preview: zelt-assets preview DIR OUT --screen 16x70x32:16/8,8/8,0/8\n"
           "  (DIR: a copy of /ZELT/media/, OUT: a folder for the pictures)\n";
}

class ProbeTest : public testing::Test {
protected:
    void SetUp() override {
        media_ = make_media_folder(standard_media());
        // A `start` on the path that leaves a mark if anything ever runs it.
        bin_ = media_ + "-bin";
        fs::create_directories(bin_);
        std::ofstream(bin_ + "/start") << "#!/bin/sh\ntouch '" << bin_ << "/ran'\n";
        fs::permissions(bin_ + "/start", fs::perms::owner_all);
        // Kernel consoles: a dummy one, and the framebuffer's, bound.
        consoles_ = media_ + "-consoles";
        const char* const consoles[][2] = {{"(S) dummy device", "1"},
                                           {"(M) frame buffer device", "1"}};
        for (int i = 0; i < 2; ++i) {
            const std::string folder = consoles_ + "/vtcon" + std::to_string(i);
            fs::create_directories(folder);
            std::ofstream(folder + "/name") << consoles[i][0] << "\n";
            std::ofstream(folder + "/bind") << consoles[i][1] << "\n";
        }
    }
    void TearDown() override {
        remove_media_folder(media_);
        fs::remove_all(bin_);
        fs::remove_all(consoles_);
    }
    std::string media_;
    std::string bin_;
    std::string consoles_;
};

TEST_F(ProbeTest, ReportsWhatThePlayerWillShow) {
    const std::string wrong = "verdict: will not show as intended: ";
    const std::vector<probe_case> cases = {
        {"fits", "16x70x32", {}, -1, 0, {}},
        // Layouts the player follows: the report names the numbers it follows.
        {"padded_rows",
         "16x70x32:pitch=80",
         {},
         -1,
         0,
         {"ok: rows: line_length 80 bytes; the player steps rows by it\n",
          "--screen 16x70x32:16/8,8/8,0/8:pitch=80\n"}},
        {"red_first",
         "16x70x32:0/8,8/8,16/8",
         {},
         -1,
         0,
         {"ok: channels red 0/8, green 8/8, blue 16/8: the player packs each colour at its "
          "field and sets the other bits (opaque)\n"}},
        {"second_page_shown",
         "16x70x32:page=0,70",
         {"ZELT_DOUBLE_VIRTUAL=16x140"},
         -1,
         0,
         {"ok: memory: smem_len 8960 bytes holds the player's mapping of 8960 bytes\n",
          "ok: page: the shown page starts at (0,70), 4480 bytes into the screen memory; the "
          "player draws there\n"}},
        {"line_length_zero",
         "16x70x32:pitch=0",
         {},
         -1,
         0,
         {"--screen 16x70x32:16/8,8/8,0/8:pitch=0\n"}},
        {"console_bound",
         "16x70x32",
         {"ZELT_DOUBLE_VTCONSOLE=@consoles"},
         -1,
         0,
         {"note: console vtcon1 ((M) frame buffer device) is bound to the framebuffer: the kernel "
          "draws its cursor and messages over the pictures; unbind it with: echo 0 > "
          "/sys/class/vtconsole/vtcon1/bind\n"}},
        // What the player still cannot show. Its pan to the first page needs no pan steps.
        {"page_beyond_memory",
         "16x70x32:page=0,70",
         {"ZELT_DOUBLE_VIRTUAL=16x140", "ZELT_DOUBLE_SMEM=4480", "ZELT_DOUBLE_YPANSTEP=0"},
         -1,
         1,
         {"wrong: memory: smem_len 4480 bytes does not reach the end of the shown page (8960 "
          "bytes): the player keeps to packed rows from offset 0 and maps 4480 bytes\n",
          "wrong: page: the shown page starts at (0,70), but the player draws at offset 0 (the "
          "memory does not hold the shown page) and shows it only where the driver takes its "
          "pan to (0,0)\n",
          wrong + "screen memory smaller than the shown page; another page shown\n",
          "--screen 16x70x32:16/8,8/8,0/8:page=0,70:smem=4480\n"}},
        // The first page instead, its rows the driver's pitch apart where the memory holds them.
        {"page_beyond_memory_first_page_at_pitch",
         "16x70x32:pitch=128:page=0,70:smem=8960",
         {"ZELT_DOUBLE_VIRTUAL=16x140"},
         -1,
         1,
         {"wrong: memory: smem_len 8960 bytes does not reach the end of the shown page (17856 "
          "bytes): the player keeps to the first page, rows line_length apart, and maps 8896 "
          "bytes\n",
          "ok: rows: line_length 128 bytes; the player steps rows by it\n",
          wrong + "screen memory smaller than the shown page; another page shown\n"}},
        // No memory size: the player keeps to the first page and maps no more than it.
        {"page_without_memory_size",
         "16x70x32:pitch=128:page=0,70",
         {"ZELT_DOUBLE_VIRTUAL=16x140", "ZELT_DOUBLE_SMEM=0"},
         -1,
         1,
         {"wrong: memory: smem_len 0 (not given): with no memory size to hold the shown page "
          "(17856 bytes), the player keeps to the first page, rows line_length apart, and maps "
          "8896 bytes\n",
          "ok: rows: line_length 128 bytes; the player steps rows by it\n",
          wrong + "screen memory size not given; another page shown\n",
          "--screen 16x70x32:16/8,8/8,0/8:pitch=128:page=0,70\n"}},
        // A pan the kernel refuses: the page the player draws is shown only by a panel that
        // scans the memory.
        {"pan_refused_no_vertical_step",
         "16x70x32:page=0,70",
         {"ZELT_DOUBLE_VIRTUAL=16x140", "ZELT_DOUBLE_YPANSTEP=0"},
         -1,
         1,
         {"wrong: present: the player pans to the page it draws, (0,70), after each cycle "
          "(FBIOPAN_DISPLAY), but the kernel refuses that pan (ypanstep 0: the driver pans to "
          "no yoffset but 0): a panel that shows the memory only when told shows none of the "
          "frames (one that scans it shows them)\n",
          wrong + "pan refused\n"}},
        {"pan_refused_off_the_step",
         "16x70x32:pitch=96:page=8,0",
         {"ZELT_DOUBLE_VIRTUAL=24x70", "ZELT_DOUBLE_XPANSTEP=16"},
         -1,
         1,
         {"(xoffset 8 is not a multiple of xpanstep 16)", wrong + "pan refused\n"}},
        {"pan_refused_past_the_virtual_screen",
         "16x70x32:page=0,70",
         {"ZELT_DOUBLE_SMEM=8960"},
         -1,
         1,
         {"(the page lies past the virtual screen, 16x70)", wrong + "pan refused\n"}},
        {"direct_colour",
         "16x70x32",
         {"ZELT_DOUBLE_VISUAL=4"},
         -1,
         1,
         {wrong + "not true colour\n",
          "host preview: none: the driver reads pixel values through a colour map"}},
        {"fields_all_zero",
         "16x70x32:0/0,0/0,0/0",
         {},
         -1,
         1,
         {"wrong: channels red 0/0, green 0/0, blue 0/0 describe no 32-bit pixel (a field "
          "without bits, past the pixel or sharing bits), so the player stores bytes b, g, r, "
          "0xFF: red shows nothing, green shows nothing, blue shows nothing\n",
          wrong + "colours wrong\n"}},
        {"fields_16_overlap_and_past_the_pixel",
         "16x70x16:14/5,0/6,0/5",
         {},
         -1,
         1,
         {"wrong: channels: red 14/5 reaches past bit 15 of the pixel: its top bits are lost, so "
          "the pictures' red shows wrong\n",
          "wrong: channels: green 0/6 and blue 0/5 share bits: the pictures' green and blue mix "
          "there\n",
          wrong + "colours wrong\n"}},
        {"too_large_to_map",
         "16384x32768x32",
         {},
         -1,
         1,
         {"wrong: memory: the player's mapping would be 2147483648 bytes, more than it can map "
          "(2147483647): it reports \"fb0 dev mmap\" and shows nothing\n",
          wrong + "screen cannot be mapped\n"}},
        {"eight_bits",
         "16x70x8",
         {},
         -1,
         1,
         {"wrong: depth: 8 bits: the player draws only at 16, 24 and 32 bits; here it clears the "
          "screen once and draws nothing\n",
          "wrong: visual PSEUDOCOLOR (3)", wrong + "depth not drawn; not true colour\n",
          "host preview: none"}},
        {"no_device",
         "",
         {},
         -1,
         2,
         {"framebuffer /dev/graphics/fb0: does not exist: the player looks for a KMS display",
          "the player reports \"kms card: /dev/dri/card0: No such file or directory\"",
          "verdict: cannot look at a framebuffer or a KMS display"}},
        // No fb0, a KMS card: the display the player takes, looked at read-only.
        {"kms_display",
         "",
         {"ZELT_DOUBLE_KMS=16x70"},
         -1,
         0,
         {"  connector HDMI-A-1 (id 31): disconnected, 0 modes\n  connector Virtual-1 (id 33): "
          "connected, 2 modes, the player's 16x70@60\nkms display: /dev/dri/card0, connector "
          "Virtual-1 (id 33), mode 16x70@60, crtc 40\n",
          "stop Android's UI first\n", "verdict: plays as intended",
          "--screen 16x70x32:16/8,8/8,0/8\n"}},
        // A display whose state the kernel cannot tell is the player's when none is connected;
        // one whose mode list changes while it is asked for is still read.
        {"kms_display_of_unknown_state",
         "",
         {"ZELT_DOUBLE_KMS=16x70", "ZELT_DOUBLE_KMS_DISPLAYS=virtual-unknown"},
         -1,
         0,
         {"  connector Virtual-1 (id 33): state unknown, 2 modes, the player's 16x70@60\nkms "
          "display: /dev/dri/card0, connector Virtual-1 (id 33), mode 16x70@60, crtc 40\n"}},
        // A display nothing has had probed yet: the probe has it probed, as nothing shows on it.
        {"kms_display_never_probed",
         "",
         {"ZELT_DOUBLE_KMS=16x70", "ZELT_DOUBLE_KMS_DISPLAYS=unprobed"},
         -1,
         0,
         {"  connector Virtual-1 (id 33): connected, 2 modes, the player's 16x70@60\nkms "
          "display: /dev/dri/card0, connector Virtual-1 (id 33), mode 16x70@60, crtc 40\n"}},
        {"kms_mode_list_changing",
         "",
         {"ZELT_DOUBLE_KMS=16x70", "ZELT_DOUBLE_KMS_DISPLAYS=hotplug"},
         -1,
         0,
         {"  connector Virtual-1 (id 33): connected, 3 modes, the player's 16x70@60\nkms "
          "display: /dev/dri/card0, connector Virtual-1 (id 33), mode 16x70@60, crtc 40\n"}},
        {"memory_smaller_than_the_mapping",
         "16x70x32",
         {"ZELT_DOUBLE_SMEM=4000"},
         -1,
         1,
         {"wrong: memory: smem_len 4000 bytes is smaller than the player's mapping of 4480 bytes: "
          "the driver refuses the mapping",
          wrong + "screen memory too small\n",
          "host preview: none: the player cannot map this screen, so it shows nothing"}},
        // Last two: they break the shared media folder. A frame cut short still loads, partly
        // black: the 4-bit, top-down zeltani02.bmp keeps 100 of its 240 bytes of pixel data.
        {"frame_cut_short",
         "16x70x32",
         {},
         -1,
         1,
         {"zeltani02.bmp: 9x30, 4 bpp palette top-down, 40-byte header; at (0,50) clipped by "
          "0x10 px, keeps 1080 bytes; cut short: the bottom 18 of 30 rows are missing (100 of 240 "
          "bytes of pixel data present), shown black\n",
          "result: the program plays on a 16x70x32 screen, but shows zeltani02.bmp cut short\n",
          wrong + "zeltani02.bmp cut short\n"},
         3,
         54 + 16 * 4 + 100},
        {"broken_frame",
         "16x70x32",
         {},
         4,
         1,
         {"zeltani03.bmp: refused: Invalid argument (malformed or cut short); the program stops "
          "loading here\n",
          wrong + "loading stops at zeltani03.bmp\n"}},
    };
    for (const probe_case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.broken_picture >= 0) {
            replace_media_file(media_, c.broken_picture, {'B', 'M', 1, 2, 3}, false);
        }
        if (c.cut_picture >= 0) {
            fs::resize_file(fs::path(media_) / kMediaFiles[c.cut_picture], c.cut_to);
        }
        run_options o;
        o.program = ZELT_PROBE_PATH;
        o.screen = c.screen;
        o.media_dir = media_;
        o.screen_fill = kScreenFill;
        for (const std::string& e : c.env) {
            const size_t at = e.find("=@consoles");
            o.env.push_back(at == std::string::npos ? e : e.substr(0, at + 1) + consoles_);
        }
        o.env.push_back("PATH=" + bin_);
        const run_result r = run_program(o);
        ASSERT_TRUE(r.exited) << r.err;
        EXPECT_EQ(r.exit_status, c.exit_status) << r.out;
        if (c.screen == "16x70x32" && c.env.empty() && c.broken_picture < 0 && c.cut_picture < 0) {
            EXPECT_EQ(r.out, fitting_report(bin_ + "/start"));
        }
        for (const std::string& fact : c.facts) {
            EXPECT_THAT(r.out, HasSubstr(fact));
        }
        // Looked, never touched: a read-only open, no mapping, no command, the memory as it was.
        int opens = 0;
        for (const std::string& e : r.events) {
            if (e.rfind("open /dev/graphics/fb0 fd=", 0) == 0) {
                ++opens;
                EXPECT_THAT(e, testing::EndsWith(" flags=rdonly"));
            }
            EXPECT_EQ(e.rfind("mmap", 0), std::string::npos) << e;
            if (e.rfind("open /dev/dri/card0 flags=", 0) == 0) {
                EXPECT_THAT(e, testing::EndsWith("=rdonly"));
            }
            for (const char* change : {"SETCRTC", "CREATE_DUMB", "ADDFB", "forced probe"}) {
                EXPECT_THAT(e, testing::Not(HasSubstr(change)));
            }
            EXPECT_EQ(e.rfind("system \"", 0), std::string::npos) << e;
        }
        EXPECT_FALSE(fs::exists(bin_ + "/ran"));
        if (!c.screen.empty()) {
            EXPECT_EQ(opens, 1);
            EXPECT_TRUE(r.canary_intact);
            EXPECT_EQ(r.screen, std::vector<uint8_t>(r.screen.size(), kScreenFill));
        }
    }
}

}  // namespace
