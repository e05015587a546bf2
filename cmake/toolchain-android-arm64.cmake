# Static build for 64-bit ARM Android (arm64-v8a, API 21) against bionic, tests under
# qemu-aarch64: cmake --preset bionic-arm64 (see android-kit.cmake).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ZELT_ANDROID_ABI arm64-v8a)
set(ZELT_ANDROID_TRIPLE aarch64-linux-android)
set(ZELT_ANDROID_LIBDIR aarch64-linux-android)
set(ZELT_QEMU_NAME qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/android-kit.cmake)
