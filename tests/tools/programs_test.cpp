// zelt-samples and zelt-frames-png run as the demo runs them: the seven pictures exist, read
// back through the program's reader at the promised sizes and each frame in its own encoding;
// screen copies become PNGs in frame order, and malformed copies are refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "image/bmplib.h"

namespace {

std::string fresh_dir(const char* name) {
    std::string dir = ::testing::TempDir() + name + std::to_string(getpid());
    std::string command = "rm -rf '" + dir + "' && mkdir -p '" + dir + "'";
    EXPECT_EQ(system(command.c_str()), 0);
    return dir;
}

int run(const std::string& command) {
    int status = system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The compression and depth fields of a BMP file, as one number: bits * 10 + compression.
int encoding_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> header(34);
    in.read(reinterpret_cast<char*>(header.data()), 34);
    return (header[28] | header[29] << 8) * 10 + header[30];
}

TEST(SamplesProgramTest, WritesSevenReadablePicturesInDifferentEncodings) {
    std::string dir = fresh_dir("zelt_samples_");
    ASSERT_EQ(run(std::string(ZELT_SAMPLES_BIN) + " " + dir + " --title 72x128 --frame 72x40"), 0);
    const char* names[] = {"zelttitle", "zeltani00", "zeltani01", "zeltani02",
                           "zeltani03", "zeltani04", "zeltani05"};
    std::set<int> frame_encodings;
    for (int i = 0; i < 7; ++i) {
        std::string path = dir + "/" + names[i] + ".bmp";
        bmp_image* image = bmp_open(path.c_str());
        ASSERT_NE(image, nullptr) << path;
        EXPECT_EQ(bmp_width(image), 72) << path;
        EXPECT_EQ(bmp_height(image), i == 0 ? 128 : 40) << path;
        bmp_close(image);
        if (i == 0) {
            EXPECT_EQ(encoding_of(path), 240) << "the title is 24-bit, uncompressed";
        } else {
            frame_encodings.insert(encoding_of(path));
        }
    }
    EXPECT_EQ(frame_encodings.size(), 6U) << "every frame in an encoding of its own";
    EXPECT_NE(run(std::string(ZELT_SAMPLES_BIN) + " " + dir + " --frame 0x40"), 0);
}

TEST(FramesPngProgramTest, ConvertsScreenCopiesInFrameOrder) {
    std::string in = fresh_dir("zelt_raw_");
    std::string out = in + "/png";
    // A 3 x 2, 16-bit screen is 12 bytes; frame 10 sorts after frame 2 by number.
    for (const char* name : {"frame-000", "frame-002", "frame-010"}) {
        std::ofstream(in + "/" + name + ".raw", std::ios::binary) << std::string(12, '\0');
    }
    std::ofstream(in + "/notes.txt") << "not a frame";
    ASSERT_EQ(run(std::string(ZELT_FRAMES_PNG_BIN) + " --screen 3x2x16 " + in + " " + out), 0);

    std::ifstream page_file(out + "/index.html");
    std::stringstream page;
    page << page_file.rdbuf();
    EXPECT_NE(page.str().find(R"(["frame-000.png","frame-002.png","frame-010.png"])"),
              std::string::npos);
    EXPECT_NE(page.str().find("setInterval(show, 500)"), std::string::npos) << "2 frames a second";
    EXPECT_EQ(page.str().find("http"), std::string::npos) << "the page must need no network";

    // A copy of the wrong size is refused, as is a malformed screen.
    std::ofstream(in + "/frame-003.raw", std::ios::binary) << std::string(11, '\0');
    EXPECT_NE(run(std::string(ZELT_FRAMES_PNG_BIN) + " --screen 3x2x16 " + in + " " + out), 0);
    EXPECT_NE(run(std::string(ZELT_FRAMES_PNG_BIN) + " --screen 3x2 " + in + " " + out), 0);
    EXPECT_NE(run(std::string(ZELT_FRAMES_PNG_BIN) + " --screen 3x2x8 " + in + " " + out), 0);
}

}  // namespace
