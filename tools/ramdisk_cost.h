// What the pictures add to the recovery image, where the image build copies them into its
// ramdisk (/ZELT/media/): their bytes, and their size compressed as the image build compresses
// the ramdisk, so that an integrator can hold it against the partition (on devices whose boot
// image carries the recovery ramdisk, against every boot image).
#pragma once

#include <cstdint>
#include <string>

struct ramdisk_cost {
    int pictures = 0;    // the regular files of the seven found
    uint64_t bytes = 0;  // their bytes, one after another as the ramdisk's archive holds them
    uint64_t gzip = 0;   // compressed with gzip at its default level 6, the build's default
    uint64_t lz4 = 0;    // compressed with lz4 -l -12 (legacy frames), BOARD_RAMDISK_USE_LZ4
};

// Measures the seven pictures in `dir` (absent and other entries are left out). Returns false,
// with errno set, when a picture cannot be read or the compressors fail.
bool measure_ramdisk_cost(const std::string& dir, ramdisk_cost* cost);

// One line on standard output: "ramdisk: ...". Nothing when no picture was found.
void print_ramdisk_cost(const std::string& dir);
