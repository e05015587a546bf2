# Cross build for 64-bit ARM Linux (ARMv8-A, AArch64) with Debian's cross compilers:
#   cmake --preset aarch64   or    cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake ...
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ZELT_TARGET_TRIPLE aarch64-linux-gnu)
set(ZELT_QEMU_NAME qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
