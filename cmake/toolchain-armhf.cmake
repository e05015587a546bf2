# Cross build for 32-bit ARM Linux (ARMv7, hard float) with Debian's cross compilers:
#   cmake --preset armhf    or    cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake ...
set(CMAKE_SYSTEM_PROCESSOR arm)
set(ZELT_TARGET_TRIPLE arm-linux-gnueabihf)
set(ZELT_QEMU_NAME qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
