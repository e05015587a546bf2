// The make verb: turns the designer's seven PNGs into the BMP files the program reads, each in
// the smallest encoding that shows exactly the same on the target screen, and proves it by
// reading every written file back through the program's own reader and conversion.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/bmplib.h"
#include "player/assets.h"
#include "screen/bitmap.h"
#include "screen/screen.h"
#include "tools/assets_tool.h"
#include "tools/encode_choice.h"
#include "tools/out_file.h"
#include "tools/picture_fit.h"

namespace {

// The asset's file name without ".bmp": "zelttitle", "zeltani00", ...
std::string asset_stem(int index) {
    std::string name = asset_file_name(index);
    return name.substr(0, name.size() - 4);
}

// `name` in lower case with the zeros that open a run of digits dropped (its last digit kept),
// so that "ZeltAni05.PNG" and "zeltani5.png" read alike.
std::string loose_name(const std::string& name) {
    std::string out;
    bool in_digits = false;  // the last character kept is a digit
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool digit_follows =
            i + 1 < name.size() && isdigit(static_cast<unsigned char>(name[i + 1])) != 0;
        if (c == '0' && digit_follows && !in_digits) {
            continue;
        }
        in_digits = isdigit(c) != 0;
        out += static_cast<char>(tolower(c));
    }
    return out;
}

// A name in `src` that differs from `stem`.png or `stem`.bmp only in letter case or in zeros
// before a digit; empty when there is none.
std::string near_match(const std::string& src, const std::string& stem) {
    const std::string png = loose_name(stem + ".png");
    const std::string bmp = loose_name(stem + ".bmp");
    std::string found;
    DIR* dir = opendir(src.c_str());
    if (dir == nullptr) {
        return found;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string loose = loose_name(entry->d_name);
        if (found.empty() && (loose == png || loose == bmp)) {
            found = entry->d_name;
        }
    }
    closedir(dir);
    return found;
}

// Reads a BMP source through the program's reader; every pixel is opaque. A source cut short
// is refused rather than made into a picture with black rows.
bool load_bmp_source(const std::string& path, rgba_picture* out, std::string* why) {
    bmp_seen seen{};
    bmp_image* image = bmp_open_seen(path.c_str(), &seen);
    if (image == nullptr) {
        *why = refusal_text(errno, seen);
        return false;
    }
    if (is_cut_short(seen)) {
        bmp_close(image);
        *why = cut_short_text(seen);
        return false;
    }
    out->width = bmp_width(image);
    out->height = bmp_height(image);
    out->rgba.clear();
    out->rgba.reserve(size_t{static_cast<uint32_t>(out->width)} * out->height * 4);
    for (int32_t y = 0; y < out->height; ++y) {
        for (int32_t x = 0; x < out->width; ++x) {
            bmp_color c = bmp_getpixel(image, x, y);
            out->rgba.insert(out->rgba.end(),
                             {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                              static_cast<uint8_t>(c), 0xFF});
        }
    }
    bmp_close(image);
    return true;
}

// Finds and reads the source of one asset: `stem`.png, or else `stem`.bmp, whichever name
// exists (a symlink to nothing included); only regular files are opened. `*file` names the one
// found (or the PNG when neither exists).
bool load_source(const std::string& src, const std::string& stem, rgba_picture* out,
                 std::string* file, std::string* why) {
    std::string kind;
    *file = stem + ".png";
    entry_kind entry = entry_at(folder_path(src, *file), &kind);
    if (entry != entry_kind::absent) {
        return entry_readable(entry, kind, why) && png_load(folder_path(src, *file), out, why);
    }
    entry = entry_at(folder_path(src, stem + ".bmp"), &kind);
    if (entry != entry_kind::absent) {
        *file = stem + ".bmp";
        return entry_readable(entry, kind, why) &&
               load_bmp_source(folder_path(src, *file), out, why);
    }
    *why = "missing (neither " + stem + ".png nor " + stem + ".bmp in " + src + ")";
    const std::string near = near_match(src, stem);
    if (!near.empty()) {
        const std::string extension = loose_name(near).substr(loose_name(near).size() - 4);
        *why += "; " + near + " is there: names are exact, rename it " + stem + extension;
    }
    return false;
}

// Writes `bytes` to a fresh temporary file for `path` and closes it, without renaming it into
// place: `file->temp` names it. Returns false with the reason in `*why` (nothing left behind).
bool write_unfinished(const std::vector<uint8_t>& bytes, const std::string& path, out_file* file,
                      std::string* why) {
    if (out_file_open(path, file) != 0) {
        *why = path + ": " + strerror(errno);
        return false;
    }
    if (fwrite(bytes.data(), 1, bytes.size(), file->stream) != bytes.size()) {
        *why = path + ": " + strerror(errno);
        out_file_discard(file);
        return false;
    }
    if (out_file_finish(file) != 0) {
        *why = path + ": " + strerror(errno);
        return false;
    }
    return true;
}

// The BMP file at `path` as the program holds it after loading: read by its reader and
// converted for the screen in fbvar, rows one after the other.
bool screen_bytes_of(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
    bmp_seen seen{};
    bmp_image* image = bmp_open_seen(path.c_str(), &seen);
    if (image == nullptr) {
        *why = "read back: " + refusal_text(errno, seen);
        return false;
    }
    prepared_bitmap prepared{};
    int converted = prepare_bitmap(image, &prepared);
    bmp_close(image);
    if (converted != 0) {
        *why = "cannot be converted for this screen";
        return false;
    }
    size_t size = static_cast<size_t>(prepared.row_bytes) * static_cast<size_t>(prepared.height);
    bytes->assign(prepared.pixels, prepared.pixels + size);
    free(prepared.pixels);
    return true;
}

// Writes `file` (a 24-bit BMP: every colour exact) to a temporary file in `out` and reads it
// back converted for the screen: the picture exactly as the screen shows it. The file is
// removed again.
bool screen_bytes_of_file(const std::vector<uint8_t>& file, const std::string& out,
                          const std::string& name, std::vector<uint8_t>* bytes, std::string* why) {
    out_file temp;
    bool ok = write_unfinished(file, folder_path(out, name), &temp, why) &&
              screen_bytes_of(temp.temp, bytes, why);
    out_file_discard(&temp);
    return ok;
}

// With --fit: scales `picture` for asset `index` on `screen`, adding the new size to
// `*size_text`. Returns false with the reason in `*why`.
bool fit_to_screen(int index, const fb_var_screeninfo& screen, rgb_picture* picture,
                   std::string* size_text, std::string* why) {
    int32_t room_height = static_cast<int32_t>(screen.yres) - (index == 0 ? kTitleY : kFrameY);
    int32_t w = 0, h = 0;
    fit_size(picture->width, picture->height, static_cast<int32_t>(screen.xres), room_height, &w,
             &h);
    if (w == picture->width && h == picture->height) {
        return true;
    }
    *size_text += " fitted to " + std::to_string(w) + "x" + std::to_string(h);
    if (int64_t{w} * h > kPngMaxPixels) {
        *why = *size_text + ": larger than " + std::to_string(kPngMaxPixels) + " pixels";
        return false;
    }
    if (!scale_picture(*picture, w, h, picture)) {
        *why = "cannot be scaled to " + *size_text;
        return false;
    }
    return true;
}

// Writes `file` to a temporary file in `out`, reads it back converted for the screen, and
// renames it to `out`/`name` only when that equals `expected`. Leaves no temporary file behind.
bool write_verified(const encoded_picture& encoded, const std::vector<uint8_t>& expected,
                    const std::string& out, const std::string& name, std::string* why) {
    out_file file;
    std::vector<uint8_t> shown;
    bool ok = write_unfinished(encoded.file, folder_path(out, name), &file, why) &&
              screen_bytes_of(file.temp, &shown, why);
    if (ok && shown != expected) {
        *why = std::string("verification failed: the ") + bmp_encoding_name(encoded.encoding) +
               " file does not show the same as the source on this screen";
        ok = false;
    }
    if (ok && out_file_commit(&file) != 0) {
        *why = folder_path(out, name) + ": " + strerror(errno);
        ok = false;
    }
    out_file_discard(&file);
    return ok;
}

// Makes OUT/<name>.bmp from one source. Prints its line on standard output, a blending
// warning on standard error; returns false with the reason in `*why`.
bool make_one(int index, const std::string& src, const std::string& out,
              const fb_var_screeninfo& screen, const make_options& options, std::string* file,
              std::string* why) {
    rgba_picture source{};
    if (!load_source(src, asset_stem(index), &source, file, why)) {
        return false;
    }
    int64_t blended = 0;
    rgb_picture picture = blend_onto(source, options.background, &blended);
    if (blended > 0) {
        fprintf(stderr,
                "zelt-assets make: warning: %s: %" PRId64
                " pixels not fully opaque, blended onto %06" PRIX32 "\n",
                file->c_str(), blended, options.background);
    }
    std::string size_text = std::to_string(picture.width) + "x" + std::to_string(picture.height);
    if (options.fit && !fit_to_screen(index, screen, &picture, &size_text, why)) {
        return false;
    }
    std::string name = asset_file_name(index);
    std::vector<uint8_t> rgb24 = bmp_encode(picture, bmp_write_options{}, nullptr);
    size_t rgb24_bytes = rgb24.size();
    std::vector<uint8_t> expected;
    if (!screen_bytes_of_file(rgb24, out, name, &expected, why)) {
        return false;
    }
    std::vector<uint32_t> pixels = screen_pixels(expected, screen.bits_per_pixel / 8);
    size_t colors = count_distinct(picture.pixels);
    size_t screen_colors = count_distinct(pixels);
    encoded_picture encoded =
        smallest_exact(picture, std::move(rgb24), screen_colors, pixels, screen);
    if (!write_verified(encoded, expected, out, name, why)) {
        return false;
    }
    std::string colors_text = std::to_string(colors) + (colors == 1 ? " colour" : " colours");
    if (screen_colors != colors) {
        colors_text += " (" + std::to_string(screen_colors) + " on this screen)";
    }
    printf("%s: %s, %s; %s %s, %zu bytes (24-bit: %zu); verified\n", file->c_str(),
           size_text.c_str(), colors_text.c_str(), name.c_str(),
           bmp_encoding_name(encoded.encoding), encoded.file.size(), rgb24_bytes);
    return true;
}

}  // namespace

bool parse_background(const char* text, uint32_t* color) {
    if (strlen(text) != 6 || strspn(text, "0123456789abcdefABCDEF") != 6) {
        return false;
    }
    *color = static_cast<uint32_t>(strtoul(text, nullptr, 16));
    return true;
}

int assets_make(const std::string& src, const std::string& out, const fb_var_screeninfo& screen,
                const make_options& options) {
    if (options.fit && screen.yres <= static_cast<uint32_t>(kFrameY)) {
        fprintf(stderr, "zelt-assets make: --fit: a %u-row screen has no room below row %d\n",
                screen.yres, kFrameY);
        return kExitUsage;
    }
    if (!prepare_output(out)) {
        return kExitUsage;
    }
    fbvar = screen;  // the program's conversion reads the screen's format from here
    std::string failed;
    for (int i = 0; i < kAssetCount; ++i) {
        std::string file, why;
        if (!make_one(i, src, out, screen, options, &file, &why)) {
            fprintf(stderr, "zelt-assets make: %s: %s\n", file.c_str(), why.c_str());
            failed += (failed.empty() ? "" : ", ") + asset_file_name(i);
        }
    }
    if (!failed.empty()) {
        printf("result: not written: %s\n", failed.c_str());
        return kExitStopsLoading;
    }
    return assets_check(out, screen);
}
