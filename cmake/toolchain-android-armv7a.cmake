# Static build for 32-bit ARM Android (armeabi-v7a, API 21) against bionic, tests under
# qemu-arm: cmake --preset bionic-armv7a (see android-kit.cmake).
set(CMAKE_SYSTEM_PROCESSOR armv7-a)
set(ZELT_ANDROID_ABI armeabi-v7a)
set(ZELT_ANDROID_TRIPLE armv7a-linux-androideabi)
set(ZELT_ANDROID_LIBDIR arm-linux-androideabi)
set(ZELT_QEMU_NAME qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/android-kit.cmake)
