// zelt-assets check DIR [--screen SCREEN]
// zelt-assets preview DIR OUT [--screen SCREEN]
// zelt-assets make SRC OUT [--screen SCREEN] [--fit] [--background RRGGBB]
// Tells the people who make the pictures, before flashing, whether the program will accept a
// media folder and what the screen will show, and makes the folder from their PNGs.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/assets_tool.h"
#include "tools/ramdisk_cost.h"

namespace {

constexpr char kDefaultScreen[] = "720x1280x32";

constexpr char kToolHelp[] =
    "usage: zelt-assets check DIR [--screen SCREEN]\n"
    "       zelt-assets preview DIR OUT [--screen SCREEN]\n"
    "       zelt-assets make SRC OUT [--screen SCREEN] [--fit] [--background RRGGBB]\n"
    "       zelt-assets [check|preview|make] --help\n"
    "\n"
    "Checks, previews and makes a folder holding the program's seven pictures (zelttitle.bmp,\n"
    "zeltani00.bmp ... zeltani05.bmp) with the program's own reader and drawing code.\n"
    "  check    one line per picture in loading order: its size, depth, encoding, header\n"
    "           length, clipping and converted size on the screen, or why it is refused\n"
    "  preview  what the screen shows after each of the six cycles, as PNGs, and a page\n"
    "           that plays them\n"
    "  make     the seven pictures from PNGs, each in the smallest BMP encoding that shows\n"
    "           exactly the same on the screen, verified with the program's reader\n"
    "\n"
    "SCREEN is WxHxBPP[:RO/RL,GO/GL,BO/BL][:pitch=BYTES][:page=X,Y][:smem=BYTES] (channel\n"
    "offsets/lengths in bits, row pitch in bytes (0: the driver gives none), visible page\n"
    "offset in pixels, the driver's memory in bytes (not given: the driver does not say):\n"
    "zelt-probe prints it for a device), at most 65535x65535, BPP 16, 24 or 32; default\n"
    "720x1280x32.\n"
    "Exit status: 0 the program would play, 1 it would stop at loading or show a picture cut\n"
    "short, 2 usage error (bad arguments, missing folder, unwritable output).\n";

constexpr char kCheckHelp[] =
    "usage: zelt-assets check DIR [--screen SCREEN]\n"
    "\n"
    "Opens DIR/zelttitle.bmp, DIR/zeltani00.bmp ... DIR/zeltani05.bmp in the program's loading\n"
    "order with the program's reader and prints one line for each:\n"
    "  NAME: WxH, BPP bpp ENCODING, N-byte header; at (X,Y) fits|clipped by WxH px, keeps N bytes\n"
    "  NAME: refused: REASON[; the program stops loading here]\n"
    "A picture whose file ends before its pixel data does gets \"; cut short: the top N of H\n"
    "rows are missing (...), shown black\" at the end of its line. Then a result line, and\n"
    "what the pictures add to the recovery image's ramdisk: their bytes, and their size\n"
    "compressed as the image build compresses the ramdisk (gzip -6, or lz4 -l -12 where the\n"
    "device sets BOARD_RAMDISK_USE_LZ4).\n"
    "The title is drawn at (0,0), the frames at (0,50);\n"
    "\"keeps\" is the size of the copy converted into the screen's format.\n"
    "SCREEN defaults to 720x1280x32.\n"
    "Exit status: 0 the program would play, 1 it would stop at loading or show a picture cut\n"
    "short, 2 usage error.\n";

constexpr char kPreviewHelp[] =
    "usage: zelt-assets preview DIR OUT [--screen SCREEN]\n"
    "\n"
    "Loads the seven pictures of DIR as the program does and draws, with the program's own\n"
    "drawing code, what the screen shows after each of the six cycles (title at (0,0), then\n"
    "frame i at (0,50), over what earlier cycles left), into OUT/cycle-0.png ... cycle-5.png,\n"
    "plus OUT/index.html that plays them at 2 frames per second. OUT is created if missing.\n"
    "The pictures show the screen as it scans its memory: with a pitch, rows that many bytes\n"
    "apart; with a page, from that position; at 24 and 32 bits, channels where the channel\n"
    "fields put them. Memory the program never writes shows black.\n"
    "SCREEN defaults to 720x1280x32.\n"
    "Exit status: 0 written, 1 the program would stop at loading (nothing written), 2 usage\n"
    "error (bad arguments, missing folder, unwritable output, a screen the program cannot\n"
    "map).\n";

constexpr char kMakeHelp[] =
    "usage: zelt-assets make SRC OUT [--screen SCREEN] [--fit] [--background RRGGBB]\n"
    "\n"
    "Reads SRC/zelttitle.png, SRC/zeltani00.png ... zeltani05.png (any PNG form; a source given\n"
    "as .bmp instead is read with the program's reader) and writes OUT/zelttitle.bmp ...\n"
    "zeltani05.bmp, each in the smallest encoding that shows exactly the same on the screen:\n"
    "1-, 4- or 8-bit palette or RLE8 for up to 256 screen colours, else 16-bit 5-6-5 bit\n"
    "fields on such a screen, else 24-bit. Every file is read back with the program's reader\n"
    "and conversion and compared pixel by pixel before it replaces anything in OUT (created if\n"
    "missing). One line per picture, then the check lines for OUT. A source may have at most\n"
    "67108864 pixels (64 Mi); names are exact (a near match is named).\n"
    "  --fit                  shrink a title wider or taller than the screen, and a frame\n"
    "                         larger than the room below row 50, to fit (proportions kept);\n"
    "                         what fits stays as drawn, nothing is enlarged\n"
    "  --background RRGGBB    colour under pixels that are not fully opaque (default 000000)\n"
    "SCREEN defaults to 720x1280x32.\n"
    "Exit status: 0 all seven written and verified, 1 a source missing or unreadable or a\n"
    "verification failed (the others are still written), 2 usage error.\n";

// A one-line error on standard error; returns the usage status.
int usage_error(const char* verb, const std::string& message) {
    fprintf(stderr, "zelt-assets%s%s: %s (see zelt-assets%s%s --help)\n", verb[0] ? " " : "", verb,
            message.c_str(), verb[0] ? " " : "", verb);
    return kExitUsage;
}

bool is_help(const char* arg) {
    return strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0;
}

struct verb_args {
    std::vector<std::string> operands;
    const char* screen_text = kDefaultScreen;
    bool help = false;
    bool fit = false;                   // make only
    const char* background = "000000";  // make only
};

// Splits a verb's arguments into operands, --screen, --help and make's --fit and --background.
// Returns false after a report.
bool parse_verb_args(const char* verb, int argc, char** argv, verb_args* out) {
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (is_help(arg)) {
            out->help = true;
        } else if (strcmp(arg, "--screen") == 0) {
            if (i + 1 >= argc) {
                usage_error(verb, "--screen needs a value such as 720x1280x32");
                return false;
            }
            out->screen_text = argv[++i];
        } else if (strncmp(arg, "--screen=", 9) == 0) {
            out->screen_text = arg + 9;
        } else if (strcmp(verb, "make") == 0 && strcmp(arg, "--fit") == 0) {
            out->fit = true;
        } else if (strcmp(verb, "make") == 0 && strcmp(arg, "--background") == 0) {
            if (i + 1 >= argc) {
                usage_error(verb, "--background needs a colour such as FFFFFF");
                return false;
            }
            out->background = argv[++i];
        } else if (arg[0] == '-' && arg[1] != '\0') {
            usage_error(verb, std::string("unknown option ") + arg);
            return false;
        } else {
            out->operands.emplace_back(arg);
        }
    }
    return true;
}

// Parses the screen text; only depths the program draws are accepted.
bool parse_screen(const char* verb, const char* text, screen_description* screen) {
    const char* why = nullptr;
    if (parse_screen_description(text, screen, &why) != 0) {
        usage_error(verb, std::string("--screen ") + text + ": " + why);
        return false;
    }
    uint32_t bpp = screen->var.bits_per_pixel;
    if (bpp != 16 && bpp != 24 && bpp != 32) {
        usage_error(verb, std::string("--screen ") + text +
                              ": the program draws only on 16-, 24- and 32-bit screens");
        return false;
    }
    return true;
}

bool folder_exists(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        fprintf(stderr, "zelt-assets: %s: %s\n", dir.c_str(), strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        fprintf(stderr, "zelt-assets: %s: %s\n", dir.c_str(), strerror(ENOTDIR));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage_error("", "no verb given: check, preview or make");
    }
    if (is_help(argv[1])) {
        fputs(kToolHelp, stdout);
        return 0;
    }
    const char* verb = argv[1];
    bool check = strcmp(verb, "check") == 0;
    bool preview = strcmp(verb, "preview") == 0;
    bool make = strcmp(verb, "make") == 0;
    if (!check && !preview && !make) {
        return usage_error("", std::string("unknown verb ") + verb + ": check, preview or make");
    }
    verb_args args;
    if (!parse_verb_args(verb, argc - 2, argv + 2, &args)) {
        return kExitUsage;
    }
    if (args.help) {
        fputs(check ? kCheckHelp : preview ? kPreviewHelp : kMakeHelp, stdout);
        return 0;
    }
    size_t wanted = check ? 1 : 2;
    if (args.operands.size() != wanted) {
        return usage_error(verb, check ? "needs exactly one folder: DIR"
                                 : make
                                     ? "needs exactly a source folder and an output folder: SRC OUT"
                                     : "needs exactly a folder and an output folder: DIR OUT");
    }
    make_options options;
    options.fit = args.fit;
    if (make && !parse_background(args.background, &options.background)) {
        return usage_error(verb, std::string("--background ") + args.background +
                                     ": needs six hexadecimal digits RRGGBB");
    }
    screen_description screen{};
    if (!parse_screen(verb, args.screen_text, &screen) || !folder_exists(args.operands[0])) {
        return kExitUsage;
    }
    if (make) {
        return assets_make(args.operands[0], args.operands[1], screen.var, options);
    }
    if (check) {
        int status = assets_check(args.operands[0], screen.var);
        print_ramdisk_cost(args.operands[0]);
        return status;
    }
    return assets_preview(args.operands[0], args.operands[1], screen);
}
