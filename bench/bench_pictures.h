// The pictures the benchmarks read: one per encoding the reader takes, written at start-up by
// the sample-picture writer into a temporary folder that is removed at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/bmp_write.h"

struct bench_picture {
    bmp_encoding encoding;
    const char* name;  // the writer's name of the encoding ("rgb24", "rle8", ...)
    bool peer_reads;   // whether the peer decoder takes this encoding
    std::string path;
    int64_t file_bytes;
};

// Writes one `width` x `height` picture per encoding into a new temporary folder. Returns
// false (with a message on standard error) when a picture cannot be written.
bool bench_pictures_make(int32_t width, int32_t height, std::vector<bench_picture>* out);

// Removes the pictures and their folder.
void bench_pictures_remove(const std::vector<bench_picture>& pictures);
