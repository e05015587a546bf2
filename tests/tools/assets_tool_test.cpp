// zelt-assets run as a subprocess on folders written here: the exact check lines and exit
// statuses for good, missing, corrupt and oversized pictures; usage errors; and preview PNGs
// decoded and compared with the composite of the source pictures, cycle by cycle.
#include <dirent.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "image/bmplib.h"
#include "tests/tools/png_read.h"
#include "tools/bmp_write.h"

namespace {

const char* const kNames[7] = {"zelttitle", "zeltani00", "zeltani01", "zeltani02",
                               "zeltani03", "zeltani04", "zeltani05"};

std::string fresh_dir(const std::string& name) {
    std::string dir = ::testing::TempDir() + "zelt_assets_" + name + std::to_string(getpid());
    EXPECT_EQ(system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    return dir;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct tool_run {
    int status;
    std::string out;
    std::string err;
};

tool_run run_tool(const std::string& args) {
    std::string base = ::testing::TempDir() + "zelt_assets_run" + std::to_string(getpid());
    int status =
        system((std::string(ZELT_ASSETS_BIN) + " " + args + " >" + base + ".out 2>" + base + ".err")
                   .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(base + ".out"),
            slurp(base + ".err")};
}

// The check's picture and result lines: its output up to the ramdisk line that ends it.
std::string check_lines(const std::string& out) {
    return out.substr(0, out.find("ramdisk: "));
}

// The standard output of a shell command.
std::string shell_out(const std::string& command) {
    std::string base = ::testing::TempDir() + "zelt_assets_sh" + std::to_string(getpid());
    EXPECT_EQ(system((command + " >" + base).c_str()), 0) << command;
    return slurp(base);
}

void write_bmp(const std::string& path, const rgb_picture& p, bmp_encoding e, bool top_down = false,
               uint32_t header = 40) {
    bmp_write_options o;
    o.encoding = e;
    o.top_down = top_down;
    o.header_size = header;
    const char* why = "";
    ASSERT_EQ(bmp_write(path.c_str(), p, o, &why), 0) << path << ": " << why;
}

// A folder of seven plain 24-bit pictures: the title `tw` x `th`, the frames `fw` x `fh`.
std::string plain_folder(const std::string& name, int tw, int th, int fw, int fh) {
    std::string dir = fresh_dir(name);
    for (int i = 0; i < 7; ++i) {
        write_bmp(dir + "/" + kNames[i] + ".bmp",
                  i == 0 ? rgb_picture_make(tw, th, 0x102030) : rgb_picture_make(fw, fh, 0x405060),
                  bmp_encoding::rgb24);
    }
    return dir;
}

TEST(AssetsCheckTest, SamplePicturesPlay) {
    std::string dir = fresh_dir("samples");
    ASSERT_EQ(system((std::string(ZELT_SAMPLES_BIN) + " " + dir +
                      " --title 72x128 --frame 72x40 >/dev/null")
                         .c_str()),
              0);
    // Each sample frame comes in an encoding of its own.
    const char* const kinds[6] = {"8 bpp palette",    "8 bpp rle8", "4 bpp palette",
                                  "16 bpp bitfields", "32 bpp rgb", "24 bpp rgb"};
    std::string expected =
        "zelttitle.bmp: 72x128, 24 bpp rgb, 40-byte header; at (0,0) clipped by 0x28 px, keeps "
        "18432 bytes\n";
    for (int i = 0; i < 6; ++i) {
        expected += std::string(kNames[i + 1]) + ".bmp: 72x40, " + kinds[i] +
                    ", 40-byte header; at (0,50) fits, keeps 5760 bytes\n";
    }
    tool_run r = run_tool("check " + dir + " --screen 72x100x16");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(check_lines(r.out), expected + "result: the program plays on a 72x100x16 screen\n");
}

TEST(AssetsCheckTest, MissingAndCorruptFilesStopLoadingAtTheFirst) {
    std::string dir = plain_folder("broken", 4, 3, 4, 3);
    ASSERT_EQ(remove((dir + "/zeltani02.bmp").c_str()), 0);
    std::ofstream(dir + "/zeltani04.bmp", std::ios::binary) << "BM cut short";
    tool_run r = run_tool("check " + dir);
    EXPECT_EQ(r.status, 1);
    std::string fine = ": 4x3, 24 bpp rgb, 40-byte header; at (0,50) fits, keeps 48 bytes\n";
    EXPECT_EQ(check_lines(r.out),
              "zelttitle.bmp: 4x3, 24 bpp rgb, 40-byte header; at (0,0) fits, keeps 48 bytes\n"
              "zeltani00.bmp" +
                  fine + "zeltani01.bmp" + fine +
                  "zeltani02.bmp: refused: No such file or directory; the program stops loading "
                  "here\n"
                  "zeltani03.bmp" +
                  fine +
                  "zeltani04.bmp: refused: Invalid argument (malformed or cut short)\n"
                  "zeltani05.bmp" +
                  fine + "result: the program stops loading at zeltani02.bmp\n");
}

// What the reader saw of zeltani01.bmp, in the check's words: a file cut short (its rows shown
// black) is named with what is missing and fails the check; a kind the reader refuses is named
// in plain words with the way out.
TEST(AssetsCheckTest, NamesPicturesCutShortAndKindsTheReaderRefuses) {
    struct seen_case {
        const char* name;
        bmp_encoding encoding;  // of a 4x3 picture, before the damage
        bool top_down;
        void (*damage)(std::string* bytes);
        const char* line;  // what follows "zeltani01.bmp: "
        const char* result;
    };
    const std::string refused = "; the program stops loading here\n";
    const char* const stops = "result: the program stops loading at zeltani01.bmp\n";
    const char* const cut =
        "result: the program plays on a 720x1280x32 screen, but shows "
        "zeltani01.bmp cut short\n";
    const char* const never =
        "result: the program plays on a 720x1280x32 screen, but never draws zeltani01.bmp\n";
    const seen_case cases[] = {
        {"rows_cut_short", bmp_encoding::rgb24, false, [](std::string* b) { b->resize(54 + 17); },
         "4x3, 24 bpp rgb, 40-byte header; at (0,50) fits, keeps 48 bytes; cut short: the top 2 "
         "of 3 rows are missing (17 of 36 bytes of pixel data present), shown black\n",
         cut},
        {"top_down_cut_short", bmp_encoding::rgb24, true, [](std::string* b) { b->resize(54); },
         "4x3, 24 bpp rgb top-down, 40-byte header; at (0,50) fits, keeps 48 bytes; cut short: "
         "the bottom 3 of 3 rows are missing (0 of 36 bytes of pixel data present), shown black\n",
         cut},
        {"rle8_codes_cut_short", bmp_encoding::rle8, false,
         [](std::string* b) { b->resize(b->size() - 6); },
         "4x3, 8 bpp rle8, 40-byte header; at (0,50) fits, keeps 48 bytes; cut short: the top 1 "
         "of 3 rows are missing (8 of 14 bytes of pixel data present), shown black\n",
         cut},
        {"last_row_lacks_only_padding", bmp_encoding::palette4, false,
         [](std::string* b) { b->resize(b->size() - 2); },
         "4x3, 4 bpp palette, 40-byte header; at (0,50) fits, keeps 48 bytes\n",
         "result: the program plays on a 720x1280x32 screen\n"},
        {"rle4", bmp_encoding::palette4, false, [](std::string* b) { (*b)[30] = 2; },
         "refused: 4-bit RLE compression, which the program's reader does not take (save it "
         "without RLE compression, or give zelt-assets make the PNG)",
         stops},
        {"two_bits", bmp_encoding::palette4, false, [](std::string* b) { (*b)[28] = 2; },
         "refused: 2-bit pixels (the reader takes 1, 4, 8, 16, 24 and 32), which the program's "
         "reader does not take (save it as an uncompressed BMP (or 8-bit RLE), or give "
         "zelt-assets make the PNG)",
         stops},
        {"jpeg_inside", bmp_encoding::rgb24, false, [](std::string* b) { (*b)[30] = 4; },
         "refused: JPEG data inside a BMP, which the program's reader does not take (give "
         "zelt-assets make the PNG)",
         stops},
        {"os2_header", bmp_encoding::rgb24, false, [](std::string* b) { (*b)[14] = 12; },
         "refused: an OS/2 1.x BMP (12-byte header), which the program's reader does not take "
         "(save it as a Windows BMP (40-byte header or longer), or give zelt-assets make the PNG)",
         stops},
        // Its copy for a 32-bit screen passes the program's limit by 524544 bytes.
        {"copy_over_the_limit", bmp_encoding::palette8, false,
         [](std::string* b) {
             const uint32_t side = 8200;
             memcpy(&(*b)[18], &side, 4);
             memcpy(&(*b)[22], &side, 4);
             uint32_t data = 0;
             memcpy(&data, &(*b)[10], 4);
             b->assign(b->substr(0, data).append(size_t{side} * side, '\0'));
         },
         "8200x8200, 8 bpp palette, 40-byte header; at (0,50) clipped by 7480x6970 px, not "
         "drawn: its copy for this screen would be 268960000 bytes, more than the program's "
         "limit of 268435456 (\"prepare_bitmap: File too large\"); the copy takes 4 bytes a "
         "pixel whatever the file's depth, so fewer colours do not help: make it at most "
         "67108864 pixels\n",
         never},
        {"png_named_bmp", bmp_encoding::rgb24, false,
         [](std::string* b) { *b = "\x89PNG\r\n\x1a\n" + b->substr(8); },
         "refused: a PNG file, not a BMP, which the program's reader does not take (give "
         "zelt-assets make the PNG)",
         stops},
    };
    std::string dir = plain_folder("seen", 4, 3, 4, 3);
    const std::string path = dir + "/zeltani01.bmp";
    for (const seen_case& c : cases) {
        write_bmp(path, rgb_picture_make(4, 3, 0x405060), c.encoding, c.top_down);
        std::string bytes = slurp(path);
        c.damage(&bytes);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        tool_run r = run_tool("check " + dir);
        EXPECT_EQ(r.status, c.result == cut || c.result == stops || c.result == never ? 1 : 0)
            << c.name;
        std::string line = "zeltani01.bmp: " + std::string(c.line);
        EXPECT_NE(r.out.find(c.result == stops ? line + refused : line), std::string::npos)
            << c.name << ":\n"
            << r.out;
        EXPECT_NE(r.out.find(c.result), std::string::npos) << c.name << ":\n" << r.out;
    }
}

// Entries that are not regular files are named without being opened (a FIFO would wait for a
// writer), by check and preview alike; a missing picture with its PNG beside it points at make.
TEST(AssetsCheckTest, EntriesThatAreNotFilesAreNamedWithoutOpeningThem) {
    std::string dir = plain_folder("entries", 4, 3, 4, 3);
    ASSERT_EQ(rename((dir + "/zelttitle.bmp").c_str(), (dir + "/zelttitle.png").c_str()), 0);
    ASSERT_EQ(remove((dir + "/zeltani00.bmp").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/zeltani00.bmp").c_str(), 0644), 0);
    ASSERT_EQ(remove((dir + "/zeltani01.bmp").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/zeltani01.bmp").c_str(), 0755), 0);
    tool_run r = run_tool("check " + dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(0, r.out.find("zeltani02")),
              "zelttitle.bmp: refused: No such file or directory (zelttitle.png is there: "
              "zelt-assets make SRC OUT makes the program's BMPs from the PNGs); the program "
              "stops loading here\n"
              "zeltani00.bmp: refused: not a regular file (a FIFO)\n"
              "zeltani01.bmp: refused: not a regular file (a directory)\n");
    ASSERT_EQ(rename((dir + "/zelttitle.png").c_str(), (dir + "/zelttitle.bmp").c_str()), 0);
    r = run_tool("preview " + dir + " " + dir + "/out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "zelt-assets: zeltani00.bmp: refused: not a regular file (a FIFO); the program "
              "stops loading here and shows nothing\n");
}

TEST(AssetsCheckTest, PicturesLargerThanTheScreenAreClippedLikeTheProgramDraws) {
    std::string dir = plain_folder("large", 100, 60, 100, 40);
    write_bmp(dir + "/zeltani05.bmp", rgb_picture_make(100, 40, 0x405060), bmp_encoding::rgb24,
              true, 124);
    std::string frame =
        ": 100x40, 24 bpp rgb, 40-byte header; at (0,50) clipped by 20x30 px, "
        "keeps 12000 bytes\n";
    tool_run r = run_tool("check " + dir + " --screen=80x60x24");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(check_lines(r.out),
              "zelttitle.bmp: 100x60, 24 bpp rgb, 40-byte header; at (0,0) clipped by 20x0 "
              "px, keeps 18000 bytes\n"
              "zeltani00.bmp" +
                  frame + "zeltani01.bmp" + frame + "zeltani02.bmp" + frame + "zeltani03.bmp" +
                  frame + "zeltani04.bmp" + frame +
                  "zeltani05.bmp: 100x40, 24 bpp rgb top-down, 124-byte header; at (0,50) "
                  "clipped by 20x30 px, keeps 12000 bytes\n"
                  "result: the program plays on a 80x60x24 screen\n");
    // On a screen of 50 rows the frames start at its bottom edge: nothing of them is drawn.
    r = run_tool("check " + dir + " --screen 80x50x32");
    EXPECT_NE(r.out.find("zeltani00.bmp: 100x40, 24 bpp rgb, 40-byte header; at (0,50) clipped "
                         "by 100x40 px, nothing shown, keeps 16000 bytes\n"),
              std::string::npos)
        << r.out;
}

// What the pictures add to the recovery image's ramdisk: the found pictures' bytes, and the
// streams gzip -6 (zlib through Python) and lz4 -l -12 write for them one after another. The
// title passes lz4's 8 MiB legacy block, so two blocks are written.
TEST(AssetsCheckTest, TellsWhatThePicturesAddToTheRecoveryRamdisk) {
    std::string dir = plain_folder("ramdisk", 2000, 1500, 40, 30);
    ASSERT_EQ(remove((dir + "/zeltani03.bmp").c_str()), 0);
    std::string files = "cat";
    uint64_t bytes = 0;
    for (const char* name : kNames) {
        struct stat st {};
        if (stat((dir + "/" + name + ".bmp").c_str(), &st) == 0) {
            files += " '" + dir + "/" + name + ".bmp'";
            bytes += uint64_t(st.st_size);
        }
    }
    std::string gzip = shell_out(files +
                                 " | python3 -c 'import sys, zlib; c = zlib.compressobj(6, "
                                 "zlib.DEFLATED, 31); d = sys.stdin.buffer.read(); "
                                 "print(len(c.compress(d) + c.flush()), end=\"\")'");
    std::string lz4 = shell_out(files + " | lz4 -l -12 | wc -c | tr -d '\\n '");
    tool_run r = run_tool("check " + dir);
    EXPECT_EQ(r.out.substr(r.out.find("ramdisk: ")),
              "ramdisk: the 6 pictures add " + std::to_string(bytes) +
                  " bytes to the recovery image's ramdisk; compressed as the image build "
                  "compresses it, about " +
                  gzip + " with gzip -6 (its default) or " + lz4 +
                  " with lz4 -l -12 (BOARD_RAMDISK_USE_LZ4)\n");
}

TEST(AssetsUsageTest, BadArgumentsGiveOneLineAndStatusTwo) {
    std::string dir = plain_folder("usage", 4, 3, 4, 3);
    std::string file = dir + "/zelttitle.bmp";
    struct usage_case {
        const char* name;
        std::string args;
        const char* message;  // expected in the one line on standard error
    };
    const usage_case cases[] = {
        {"no_verb", "", "no verb given"},
        {"missing_folder", "check " + dir + "/nowhere", "nowhere: No such file or directory"},
        {"malformed_screen", "check " + dir + " --screen 720x1280", "--screen 720x1280: screen"},
        {"undrawn_depth", "check " + dir + " --screen 720x1280x8", "16-, 24- and 32-bit"},
        {"empty_pitch", "check " + dir + " --screen 720x1280x32:pitch=", "pitch=BYTES"},
        {"oversized_screen", "check " + dir + " --screen 99999x99999x32",
         "--screen 99999x99999x32: screen too large: at most 65535x65535 pixels"},
        {"memory_smaller_than_the_mapping",
         "preview " + dir + " " + dir + "/out --screen 16x70x32:smem=4000",
         "smem=4000: the screen's memory is smaller than the program's mapping of 4480 bytes"},
        {"fields_out_of_order", "preview " + dir + " " + dir + " --screen 8x8x32:page=0,1:pitch=32",
         "in that order"},
        {"unknown_option", "preview " + dir + " " + dir + " --fast", "unknown option --fast"},
        {"unwritable_output", "preview " + dir + " " + file + "/out",
         "zelttitle.bmp/out: Not a directory"},
    };
    for (const usage_case& c : cases) {
        tool_run r = run_tool(c.args);
        EXPECT_EQ(r.status, 2) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    }
    for (const char* help : {"--help", "check --help", "preview -h"}) {
        tool_run r = run_tool(help);
        EXPECT_EQ(r.status, 0) << help;
        EXPECT_EQ(r.out.rfind("usage: zelt-assets", 0), 0U) << help;
    }
}

// Paints `p` at (x, y) into a w x h RGB screen, cut at its edges, each channel kept to the
// screen's bits (`keep` masks).
void paint(std::vector<uint8_t>* screen, int w, int h, const rgb_picture& p, int x, int y,
           const uint8_t keep[3]) {
    for (int r = 0; r < p.height && y + r < h; ++r) {
        for (int c = 0; c < p.width && x + c < w; ++c) {
            uint32_t color = p.pixels[static_cast<size_t>(r) * p.width + c];
            uint8_t* out = screen->data() + (static_cast<size_t>(y + r) * w + x + c) * 3;
            out[0] = static_cast<uint8_t>(color >> 16) & keep[0];
            out[1] = static_cast<uint8_t>(color >> 8) & keep[1];
            out[2] = static_cast<uint8_t>(color) & keep[2];
        }
    }
}

// A picture of a few colours (palette-friendly) that differs per `seed`.
rgb_picture pattern(int w, int h, int seed) {
    static const uint32_t kColors[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF,
                                       0x808080, 0x12FE34, 0xC0FFEE, 0x7F017F};
    rgb_picture p = rgb_picture_make(w, h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            p.pixels[static_cast<size_t>(y) * w + x] = kColors[(x / 7 + y / 5 + seed) % 8];
        }
    }
    return p;
}

TEST(AssetsPreviewTest, CyclesShowTheCompositeOfTheDecodedPictures) {
    // Frames shrink from cycle to cycle, so what a smaller frame leaves uncovered still shows
    // the earlier ones; frame 0 is wider and taller than the room the screen leaves.
    std::string dir = fresh_dir("preview");
    const bmp_encoding encodings[6] = {bmp_encoding::palette8, bmp_encoding::rle8,
                                       bmp_encoding::palette4, bmp_encoding::bitfields32,
                                       bmp_encoding::rgb32,    bmp_encoding::rgb24};
    std::vector<rgb_picture> pictures = {pattern(60, 60, 0)};
    write_bmp(dir + "/zelttitle.bmp", pictures[0], bmp_encoding::rgb24);
    for (int i = 0; i < 6; ++i) {
        pictures.push_back(pattern(80 - 10 * i, 60 - 5 * i, i + 1));
        write_bmp(dir + "/" + kNames[i + 1] + ".bmp", pictures.back(), encodings[i]);
    }
    struct screen_case {
        const char* screen;
        uint8_t keep[3];
    };
    const screen_case screens[] = {
        {"70x100x32", {0xFF, 0xFF, 0xFF}},
        {"70x100x16", {0xF8, 0xFC, 0xF8}},
        {"70x100x16:10/5,5/5,0/5", {0xF8, 0xF8, 0xF8}},
    };
    for (const screen_case& s : screens) {
        std::string out = dir + "/out";
        tool_run r = run_tool("preview " + dir + " " + out + " --screen " + s.screen);
        ASSERT_EQ(r.status, 0) << s.screen << ": " << r.err;
        std::vector<uint8_t> expected(70 * 100 * 3, 0);
        for (int cycle = 0; cycle < 6; ++cycle) {
            paint(&expected, 70, 100, pictures[0], 0, 0, s.keep);
            paint(&expected, 70, 100, pictures[cycle + 1], 0, 50, s.keep);
            uint32_t w = 0, h = 0;
            std::vector<uint8_t> decoded;
            std::string png = out + "/cycle-" + std::to_string(cycle) + ".png";
            ASSERT_TRUE(read_png(png, &w, &h, &decoded)) << png;
            ASSERT_EQ(w * 1000 + h, 70U * 1000 + 100U) << png;
            EXPECT_TRUE(decoded == expected) << s.screen << ", cycle " << cycle;
        }
        EXPECT_NE(slurp(out + "/index.html")
                      .find(R"(["cycle-0.png","cycle-1.png","cycle-2.png","cycle-3.png",)"
                            R"("cycle-4.png","cycle-5.png"])"),
                  std::string::npos);
    }
}

// The player follows a device's channel fields, row pitch and shown page, so their previews show
// the same picture as a plain packed screen. Where the driver's memory does not reach the shown
// page the player draws the first page from offset 0 (its rows the pitch apart where the memory
// holds them), and the preview shows that drawing read the way the screen scans memory: pixel
// (x, y) from the drawing's pixel (x, y + page), black past the end of what was drawn.
TEST(AssetsPreviewTest, DeviceLayoutsShowWhatTheScreenScans) {
    std::string dir = fresh_dir("layouts");
    for (int i = 0; i < 7; ++i) {
        write_bmp(dir + "/" + kNames[i] + ".bmp", pattern(60 - 5 * i, 70 - 5 * i, i),
                  bmp_encoding::rgb24);
    }
    auto cycles = [&](const std::string& screen) {
        std::vector<std::vector<uint8_t>> decoded(6);
        tool_run r = run_tool("preview " + dir + " " + dir + "/out --screen " + screen);
        EXPECT_EQ(r.status, 0) << screen << ": " << r.err;
        for (int cycle = 0; cycle < 6; ++cycle) {
            uint32_t w = 0, h = 0;
            EXPECT_TRUE(read_png(dir + "/out/cycle-" + std::to_string(cycle) + ".png", &w, &h,
                                 &decoded[cycle]));
        }
        return decoded;
    };
    const std::vector<std::vector<uint8_t>> normal = cycles("60x100x32");
    struct layout_case {
        const char* fields;
        int page_row;  // -1: followed, the normal picture
    };
    const layout_case layouts[] = {
        {":0/8,8/8,16/8", -1},
        {":16/8,8/8,0/8:pitch=256", -1},
        {":page=0,30:smem=31200", -1},
        {":24/8,16/8,8/8:pitch=260:page=2,30:smem=33800", -1},
        {":page=0,30:smem=24000", 30},
        {":pitch=256:page=0,30:smem=25584", 30},  // the first page's rows: 99 x 256 + 240
        {":page=0,30", 30},  // no memory size: the player keeps to the first page
    };
    for (const layout_case& l : layouts) {
        const std::vector<std::vector<uint8_t>> seen = cycles(std::string("60x100x32") + l.fields);
        for (int cycle = 0; cycle < 6; ++cycle) {
            std::vector<uint8_t> expected = normal[cycle];
            if (l.page_row >= 0) {
                expected.assign(60 * 100 * 3, 0);
                const size_t first = static_cast<size_t>(l.page_row) * 60 * 3;
                std::copy(normal[cycle].begin() + static_cast<long>(first), normal[cycle].end(),
                          expected.begin());
            }
            EXPECT_TRUE(seen[cycle] == expected) << l.fields << ", cycle " << cycle;
        }
    }
}

TEST(AssetsPreviewTest, ARefusedPictureWritesNoCycles) {
    std::string dir = plain_folder("preview_refused", 4, 3, 4, 3);
    ASSERT_EQ(remove((dir + "/zeltani05.bmp").c_str()), 0);
    tool_run r = run_tool("preview " + dir + " " + dir + "/out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "zelt-assets: zeltani05.bmp: refused: No such file or directory; the program stops "
              "loading here and shows nothing\n");
    struct stat st {};
    EXPECT_NE(stat((dir + "/out/cycle-0.png").c_str(), &st), 0);
}

// One designer's source: how its PNG stores it and what make must choose for it.
struct png_source {
    int color_type;  // PNG_COLOR_TYPE_*: palette, grey, RGB or RGBA
    int bit_depth;   // 8, or 16 for grey (the low byte is noise the tool must drop)
    bool interlaced;
    int w, h;
    uint32_t (*pixel)(int x, int y);  // 0xAARRGGBB; a grey picture's level is its red
    const char* on32;                 // encoding chosen for a 32-bit screen
    const char* on565;                // and for a 16-bit 5-6-5 screen
};

const png_source kSources[7] = {
    {PNG_COLOR_TYPE_RGB, 8, false, 256, 128,
     [](int x, int y) { return 0xFF000040U | x << 16 | (2 * y) << 8; }, "rgb24", "bitfields16"},
    {PNG_COLOR_TYPE_PALETTE, 8, false, 40, 20,
     [](int x, int y) { return (x + y) % 2 ? 0xFFFFFFFFU : 0xFF000080U; }, "palette1", "palette1"},
    {PNG_COLOR_TYPE_PALETTE, 8, false, 33, 20,  // 16 colours, odd width
     [](int x, int) { return 0xFF000000U | (x % 16 * 16) << 16; }, "palette4", "palette4"},
    {PNG_COLOR_TYPE_PALETTE, 8, false, 64, 50,  // 200 colours, no two alike on either screen
     [](int x, int y) {
         int i = (x * 7 + y * 13) % 200;
         return 0xFF000000U | (i % 8 * 32) << 16 | (i / 8 * 8) << 8;
     },
     "palette8", "palette8"},
    {PNG_COLOR_TYPE_GRAY, 8, false, 256, 16,  // 256 greys, 64 on 5-6-5 in runs of four
     [](int x, int) { return 0xFF000000U | x * 0x010101U; }, "palette8", "rle8"},
    {PNG_COLOR_TYPE_GRAY, 16, false, 31, 10,  // odd width, four levels
     [](int x, int) { return 0xFF000000U | (x % 4 * 85) * 0x010101U; }, "palette4", "palette4"},
    {PNG_COLOR_TYPE_RGB_ALPHA, 8, true, 30, 20,  // interlaced; columns 0-4 transparent
     [](int x, int) { return x < 5 ? 0x00123456U : 0xFFFF0000U; }, "palette1", "palette1"},
};

void write_png(const std::string& path, const png_source& s) {
    std::vector<png_color> palette;
    std::map<uint32_t, uint8_t> index;
    std::vector<std::vector<uint8_t>> rows(s.h);
    for (int y = 0; y < s.h; ++y) {
        for (int x = 0; x < s.w; ++x) {
            uint32_t c = s.pixel(x, y);
            uint8_t r = c >> 16 & 0xFF, g = c >> 8 & 0xFF, b = c & 0xFF;
            if (s.color_type == PNG_COLOR_TYPE_PALETTE) {
                auto it = index.emplace(c, static_cast<uint8_t>(palette.size())).first;
                if (it->second == palette.size()) {
                    palette.push_back({r, g, b});
                }
                rows[y].push_back(it->second);
            } else if (s.color_type == PNG_COLOR_TYPE_GRAY) {
                rows[y].push_back(r);
                if (s.bit_depth == 16) {
                    rows[y].push_back(static_cast<uint8_t>(x * 37 + y));
                }
            } else {
                rows[y].insert(rows[y].end(), {r, g, b});
                if (s.color_type == PNG_COLOR_TYPE_RGB_ALPHA) {
                    rows[y].push_back(static_cast<uint8_t>(c >> 24));
                }
            }
        }
    }
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, s.w, s.h, s.bit_depth, s.color_type,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) {
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    }
    std::vector<png_bytep> pointers;
    for (std::vector<uint8_t>& row : rows) {
        pointers.push_back(row.data());
    }
    png_write_info(png, info);
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(f);
}

// A PNG that ends where its pixel data would start: enough for a reader to learn its size.
void write_png_header(const std::string& path, uint32_t w, uint32_t h) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_flush(png);
    fwrite("\0\0\0\0IDAT", 1, 8, f);
    png_destroy_write_struct(&png, &info);
    fclose(f);
}

std::string png_folder(const std::string& name) {
    std::string dir = fresh_dir(name);
    for (int i = 0; i < 7; ++i) {
        write_png(dir + "/" + kNames[i] + ".png", kSources[i]);
    }
    return dir;
}

TEST(AssetsMakeTest, SmallestExactEncodingIsChosenAndReadsBackAsTheSource) {
    std::string src = png_folder("make_src");
    struct screen_case {
        const char* args;
        bool is565;
        uint32_t background;
    };
    for (const screen_case& s : {screen_case{"", false, 0},
                                 {" --screen 64x128x16 "
                                  "--background 00FF00",
                                  true, 0x00FF00}}) {
        std::string out = src + (s.is565 ? "/out16" : "/out32");
        tool_run r = run_tool("make " + src + " " + out + s.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("\nresult: the program plays"), std::string::npos) << r.out;
        EXPECT_EQ(r.err,
                  "zelt-assets make: warning: zeltani05.png: 100 pixels not fully opaque, "
                  "blended onto " +
                      std::string(s.is565 ? "00FF00" : "000000") + "\n");
        const uint32_t keep = s.is565 ? 0xF8FCF8 : 0xFFFFFF;
        for (int i = 0; i < 7; ++i) {
            const png_source& p = kSources[i];
            std::string line =
                std::string(kNames[i]) + ".bmp " + (s.is565 ? p.on565 : p.on32) + ",";
            EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
            bmp_image* image = bmp_open((out + "/" + kNames[i] + ".bmp").c_str());
            ASSERT_NE(image, nullptr) << kNames[i];
            ASSERT_EQ(bmp_width(image) * 1000 + bmp_height(image), p.w * 1000 + p.h);
            int wrong = 0;
            for (int y = 0; y < p.h; ++y) {
                for (int x = 0; x < p.w; ++x) {
                    uint32_t c = p.pixel(x, y);
                    uint32_t want = (c >> 24 != 0 ? c : s.background) & keep;
                    wrong += (bmp_getpixel(image, x, y) & keep) != want;
                }
            }
            bmp_close(image);
            EXPECT_EQ(wrong, 0) << kNames[i] << (s.is565 ? " on 5-6-5" : " on 32-bit");
        }
    }
}

TEST(AssetsMakeTest, FitScalesToTheScreenAndFailuresLeaveNoPartialFiles) {
    std::string src = png_folder("make_fit");
    // A 100x150 screen: the 256x128 title shrinks to 100x50; the 40x20 frame fits and stays.
    tool_run r = run_tool("make " + src + " " + src + "/fit --fit --screen 100x150x32");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("zelttitle.png: 256x128 fitted to 100x50,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("zeltani00.png: 40x20, 2 colours;"), std::string::npos) << r.out;

    // A source given as BMP is read with the program's reader.
    ASSERT_EQ(remove((src + "/zeltani01.png").c_str()), 0);
    write_bmp(src + "/zeltani01.bmp", rgb_picture_make(5, 4, 0x123456), bmp_encoding::rgb24);
    ASSERT_EQ(rename((src + "/zeltani02.png").c_str(), (src + "/ZeltAni2.PNG").c_str()), 0);
    ASSERT_EQ(truncate((src + "/zeltani03.png").c_str(), 60), 0);
    write_png_header(src + "/zeltani00.png", 9000, 9000);
    std::ofstream(src + "/zeltani04.png", std::ios::trunc) << "";
    std::ofstream(src + "/zeltani05.png", std::ios::trunc) << slurp(src + "/zeltani01.bmp");
    r = run_tool("make " + src + " " + src + "/broken");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("zeltani01.bmp: 5x4, 1 colour; zeltani01.bmp palette1, 74 bytes"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(
        r.err,
        "zelt-assets make: zeltani00.png: 9000x9000 is 81000000 pixels, more than make "
        "takes (67108864): export it smaller, at the screen's size or below\n"
        "zelt-assets make: zeltani02.png: missing (neither zeltani02.png nor zeltani02.bmp "
        "in " +
            src +
            "); ZeltAni2.PNG is there: names are exact, rename it zeltani02.png\n"
            "zelt-assets make: zeltani03.png: cut short: the file ends before its PNG data "
            "does (export it again)\n"
            "zelt-assets make: zeltani04.png: an empty file, not a PNG\n"
            "zelt-assets make: zeltani05.png: a BMP file, not a PNG (give it a .bmp name: make "
            "reads BMP sources with the program's reader)\n");
    EXPECT_NE(r.out.find("result: not written: zeltani00.bmp, zeltani02.bmp, zeltani03.bmp, "
                         "zeltani04.bmp, zeltani05.bmp\n"),
              std::string::npos);
    std::vector<std::string> left;  // temporary files included
    DIR* d = opendir((src + "/broken").c_str());
    ASSERT_NE(d, nullptr);
    while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
            left.emplace_back(e->d_name);
        }
    }
    closedir(d);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"zeltani01.bmp", "zelttitle.bmp"}));

    for (const std::string& args :
         {"make " + src + " " + src + "/x --background 12345G",
          "make " + src + " " + src + "/zelttitle.png",
          "make " + src + " " + src + "/x --fit --screen 100x50x32", "make " + src}) {
        EXPECT_EQ(run_tool(args).status, 2) << args;
    }
}

// Sources make cannot take are named in one line each, without opening them (a FIFO would
// block), and the others are still written; an extreme size with --fit gives a picture.
TEST(AssetsMakeTest, OddSourcesAreNamedAndExtremeSizesFit) {
    std::string src = png_folder("make_odd");
    const std::string bmp = src + "/zeltani04.bmp";
    for (int i : {1, 2, 3, 4, 5}) {
        ASSERT_EQ(remove((src + "/" + kNames[i] + ".png").c_str()), 0);
    }
    ASSERT_EQ(mkfifo((src + "/zeltani00.png").c_str(), 0644), 0);
    ASSERT_EQ(symlink("nowhere.png", (src + "/zeltani01.png").c_str()), 0);
    ASSERT_EQ(mkdir((src + "/zeltani02.png").c_str(), 0755), 0);
    write_bmp(src + "/zeltani03.bmp", rgb_picture_make(4, 3, 0x405060), bmp_encoding::rgb24);
    ASSERT_EQ(truncate((src + "/zeltani03.bmp").c_str(), 54 + 20), 0);
    write_bmp(bmp, rgb_picture_make(4, 3, 0x405060), bmp_encoding::palette4);
    std::string bytes = slurp(bmp);
    bytes[30] = 2;  // 4-bit RLE
    std::ofstream(bmp, std::ios::binary | std::ios::trunc) << bytes;
    write_png(src + "/zeltani05.png", {PNG_COLOR_TYPE_RGB, 8, false, 1, 40000,
                                       [](int, int y) { return 0xFF000000U | y % 256; }, "", ""});
    tool_run r = run_tool("make " + src + " " + src + "/out --fit --screen 65535x51x32");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "zelt-assets make: zeltani00.png: not a regular file (a FIFO)\n"
              "zelt-assets make: zeltani01.png: a symlink to nothing (its target does not "
              "exist)\n"
              "zelt-assets make: zeltani02.png: not a regular file (a directory)\n"
              "zelt-assets make: zeltani03.bmp: cut short: the top 2 of 3 rows are missing (20 "
              "of 36 bytes of pixel data present), shown black\n"
              "zelt-assets make: zeltani04.bmp: 4-bit RLE compression, which the program's "
              "reader does not take (save it without RLE compression, or give zelt-assets make "
              "the PNG)\n");
    EXPECT_NE(r.out.find("zeltani05.png: 1x40000 fitted to 1x1,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("result: not written: zeltani00.bmp, zeltani01.bmp, zeltani02.bmp, "
                         "zeltani03.bmp, zeltani04.bmp\n"),
              std::string::npos)
        << r.out;
}

// Every file goes through a temporary file made exclusively: links planted where the tool used
// to put its temporary files, and at the outputs themselves, are replaced or left alone, never
// written through; a full disk (here a file size limit) leaves one line and no cut-short PNG.
TEST(AssetsMakeTest, OutputsAreNeverWrittenThroughLinksNorLeftCutShort) {
    std::string src = png_folder("make_links");
    const std::string out = src + "/out";
    const std::string victim = src + "/victim";
    std::ofstream(victim) << "keep";
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    for (const char* name : {".zelttitle.bmp.tmp", ".zelttitle.bmp.source.tmp",
                             ".zelt-assets-probe", "zelttitle.bmp", "cycle-0.png"}) {
        ASSERT_EQ(symlink(victim.c_str(), (out + "/" + name).c_str()), 0) << name;
    }
    tool_run r = run_tool("make " + src + " " + out);
    EXPECT_EQ(r.status, 0) << r.err;
    r = run_tool("preview " + out + " " + out);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(victim), "keep");
    struct stat st {};
    ASSERT_EQ(lstat((out + "/zelttitle.bmp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    const std::string full = src + "/full";
    // The limit is set in a shell of its own, with SIGXFSZ ignored so that writes fail instead.
    int status =
        system(("sh -c 'trap \"\" XFSZ; ulimit -f 1; exec " + std::string(ZELT_ASSETS_BIN) +
                " preview " + out + " " + full + "' >/dev/null 2>" + full + ".err")
                   .c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2);
    // A coverage build's own profile writes, at exit, meet the same limit: their lines are not
    // the tool's.
    std::string err = slurp(full + ".err");
    err = err.substr(0, err.find("libgcov profiling error"));
    EXPECT_EQ(err, "zelt-assets: " + full + "/cycle-0.png: File too large\n");
    DIR* d = opendir(full.c_str());
    ASSERT_NE(d, nullptr);
    while (dirent* e = readdir(d)) {
        EXPECT_TRUE(strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            << e->d_name << " left behind";
    }
    closedir(d);
}

}  // namespace
