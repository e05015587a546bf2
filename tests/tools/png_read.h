// Decoding of the PNGs the tools write, with libpng, for the tests that check them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Decodes the PNG at `path` into 8-bit RGB rows, top row first. Returns false when it cannot.
bool read_png(const std::string& path, uint32_t* w, uint32_t* h, std::vector<uint8_t>* rgb);
