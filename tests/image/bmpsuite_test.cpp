// The public BMP conformance pictures kept in tests/data/bmpsuite: good ones open (except the
// refusals on purpose), questionable and bad ones open or are refused, and whatever opens reads
// in bounds (the suite runs under ASan and UBSan too).
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/image/bmp_builder.h"

namespace {

const std::string kSuite = ZELT_BMPSUITE_DIR;

// The folder's pictures. A folder that is missing, cannot be listed (a 32-bit readdir gives up
// on 64-bit positions) or holds no pictures fails the calling test.
std::vector<std::string> pictures(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir((kSuite + "/" + folder).c_str());
    if (dir == nullptr) {
        ADD_FAILURE() << "opening " << kSuite << "/" << folder << ": " << strerror(errno);
        return names;
    }
    for (;;) {
        // readdir tells its end from an error only through errno, which the calls between
        // two readdirs may set (bionic's allocator does, under qemu-user).
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            break;
        }
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0) {
            names.push_back(name);
        }
    }
    if (errno != 0) {
        ADD_FAILURE() << "listing " << kSuite << "/" << folder << ": " << strerror(errno);
    }
    closedir(dir);
    EXPECT_FALSE(names.empty()) << "no pictures in " << kSuite << "/" << folder;
    std::sort(names.begin(), names.end());
    return names;
}

// Reads every pixel; colours never carry bits 24-31.
void read_all(const bmp_image* image) {
    bmp_color all = 0;
    for (int32_t y = 0; y < bmp_height(image); ++y) {
        for (int32_t x = 0; x < bmp_width(image); ++x) {
            all |= bmp_getpixel(image, x, y);
        }
    }
    EXPECT_EQ(all & 0xFF000000u, 0u);
}

class Suite : public testing::TestWithParam<const char*> {};

TEST_P(Suite, NeverFaults) {
    const std::string folder = GetParam();
    for (const std::string& name : pictures(folder)) {
        std::string path = kSuite;
        path.append("/").append(folder).append("/").append(name);
        SCOPED_TRACE(path);
        errno = 0;
        bmp_handle image(bmp_open(path.c_str()));
        const int error = errno;
        if (image) {
            EXPECT_GE(bmp_width(image.get()), 1);
            EXPECT_GE(bmp_height(image.get()), 1);
            read_all(image.get());
            continue;
        }
        EXPECT_TRUE(error == EINVAL || error == ENOTSUP || error == EFBIG) << strerror(error);
        if (folder == "g") {
            // Good pictures are refused only for the 12-byte OS/2 header and for RLE4.
            const bool by_design = (name == "pal8os2.bmp" && error == EINVAL) ||
                                   (name == "pal4rle.bmp" && error == ENOTSUP);
            EXPECT_TRUE(by_design) << "refused: " << strerror(error);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, Suite, testing::Values("g", "q", "b"),
                         [](const auto& info) { return std::string(info.param); });

TEST(SuiteBad, HugePictureIsRefusedBeforeAllocating) {
    errno = 0;
    EXPECT_EQ(bmp_open((kSuite + "/b/reallybig.bmp").c_str()), nullptr);
    EXPECT_EQ(errno, EFBIG);
}

}  // namespace
