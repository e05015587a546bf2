// Mapping the screen: without a known, positive size nothing is mapped, and the failure is
// never taken for a mapping.
#include <gtest/gtest.h>

#include <cerrno>

#include "screen/screen.h"

namespace {

TEST(ScreenMap, RefusedWithoutAPositiveSize) {
    for (int size : {0, -4}) {
        fbfd = -1;
        fbmem = nullptr;
        buffersize = size;
        errno = 0;
        EXPECT_EQ(screen_map(), -1) << size;
        EXPECT_EQ(errno, EINVAL) << size;
        EXPECT_EQ(fbmem, nullptr) << size;
    }
    buffersize = 0;
}

}  // namespace
