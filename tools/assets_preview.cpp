// The preview verb: loads the seven pictures exactly as the program does (reader, then
// conversion into the screen's format), then draws each cycle into an in-memory screen with
// the program's own drawing routine and writes what it holds as a PNG.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/bmplib.h"
#include "player/assets.h"
#include "player/playback.h"
#include "screen/bitmap.h"
#include "screen/screen.h"
#include "screen/screen_layout.h"
#include "tools/assets_tool.h"
#include "tools/out_file.h"
#include "tools/screen_png.h"
#include "tools/screen_scan.h"

namespace {

// Frees the pixels of every prepared picture and empties the records.
void release_pictures() {
    for (const asset_entry& entry : asset_table) {
        free(entry.picture->pixels);
        *entry.picture = prepared_bitmap{};
    }
}

// Opens and converts every picture in loading order. Returns false after a report on
// standard error at the first that cannot be opened, as the program would stop there; one
// whose copy the program refuses is reported (by the program's own conversion too) and left
// undrawn, and loading goes on, as in the program.
bool load_pictures(const std::string& dir) {
    for (int i = 0; i < kAssetCount; ++i) {
        std::string name = asset_file_name(i);
        bmp_seen seen{};
        std::string why;
        bmp_image* image = open_picture(folder_path(dir, name), &seen, &why);
        if (image == nullptr) {
            fprintf(stderr,
                    "zelt-assets: %s: refused: %s; the program stops loading here and shows "
                    "nothing\n",
                    name.c_str(), why.c_str());
            return false;
        }
        int converted = prepare_bitmap(image, asset_table[i].picture);
        bmp_close(image);
        if (converted != 0) {
            fprintf(stderr,
                    "zelt-assets: %s: not drawn: the program cannot convert it for this "
                    "screen (see zelt-assets check)\n",
                    name.c_str());
        }
    }
    return true;
}

// Draws the six cycles into the screen the globals describe and writes each as a PNG of what
// `screen` shows of it.
bool render_cycles(const std::string& out, const screen_description& screen,
                   std::vector<std::string>* pngs) {
    std::vector<uint8_t> visible;
    for (int cycle = 0; cycle < kFrameCount; ++cycle) {
        // The title is redrawn every cycle and the frame over it; the screen is never cleared
        // in between, so whatever neither covers stays from earlier cycles.
        draw_cycle(cycle);
        std::string png = "cycle-" + std::to_string(cycle) + ".png";
        std::string path = folder_path(out, png);
        const char* why = nullptr;
        screen_scan(screen, fbmem, static_cast<size_t>(buffersize), &visible);
        if (screen_write_png(path.c_str(), screen.var, visible.data(), visible.size(), &why) != 0) {
            fprintf(stderr, "zelt-assets: %s: %s\n", path.c_str(), why);
            return false;
        }
        pngs->push_back(png);
    }
    return true;
}

}  // namespace

bool prepare_output(const std::string& out) {
    if (mkdir(out.c_str(), 0755) != 0 && errno != EEXIST) {
        fprintf(stderr, "zelt-assets: %s: %s\n", out.c_str(), strerror(errno));
        return false;
    }
    struct stat st {};
    if (stat(out.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        fprintf(stderr, "zelt-assets: %s: %s\n", out.c_str(), strerror(ENOTDIR));
        return false;
    }
    // Probe with a real file, made the way every output is: permissions alone do not tell
    // (root, read-only mounts).
    out_file probe;
    if (out_file_open(folder_path(out, "zelt-assets-probe"), &probe) != 0) {
        fprintf(stderr, "zelt-assets: %s: %s\n", out.c_str(), strerror(errno));
        return false;
    }
    out_file_discard(&probe);
    return true;
}

int assets_preview(const std::string& dir, const std::string& out,
                   const screen_description& description) {
    const fb_var_screeninfo& screen = description.var;
    fb_fix_screeninfo fixed{};
    fixed.line_length = description.line_length;
    fixed.smem_len = description.smem_len;
    screen_layout layout{};
    if (screen_layout_for(screen, &fixed, &layout) != 0) {  // what the program maps, or refuses
        fprintf(stderr, "zelt-assets: a %ux%ux%u screen is too large to preview\n", screen.xres,
                screen.yres, screen.bits_per_pixel);
        return kExitUsage;
    }
    if (!screen_memory_holds(layout, fixed.smem_len)) {
        fprintf(stderr,
                "zelt-assets: smem=%u: the screen's memory is smaller than the program's mapping "
                "of %llu bytes: the driver refuses it and the program shows nothing\n",
                fixed.smem_len, static_cast<unsigned long long>(layout.map_bytes));
        return kExitUsage;
    }
    if (!prepare_output(out)) {
        return kExitUsage;
    }
    // The program's screen state: conversion reads fbvar, drawing writes fbmem where fblayout
    // says.
    fbvar = screen;
    fblayout = layout;
    if (!load_pictures(dir)) {
        release_pictures();
        return kExitStopsLoading;
    }
    // Screen memory of our own, cleared once as the UI thread does before its first cycle.
    std::vector<uint8_t> memory(layout.map_bytes, 0);
    fbmem = memory.data();
    buffersize = static_cast<int>(layout.map_bytes);
    std::vector<std::string> pngs;
    bool ok = render_cycles(out, description, &pngs);
    fbmem = nullptr;
    buffersize = 0;
    release_pictures();
    const char* why = nullptr;
    if (ok && player_page_write(out, pngs, &why) != 0) {
        fprintf(stderr, "zelt-assets: %s: %s\n", out.c_str(), why);
        ok = false;
    }
    if (!ok) {
        return kExitUsage;
    }
    printf("zelt-assets: %d cycles written to %s/ (open %s/index.html)\n", kFrameCount, out.c_str(),
           out.c_str());
    return kExitPlays;
}
