# Shared part of the Android builds of the bionic suites: static programs for Android's C library
# (bionic) at API 21, which run on the workstation under qemu-user. The including toolchain file
# sets ZELT_ANDROID_ABI (the NDK's ABI name), ZELT_ANDROID_TRIPLE (clang's target, without the
# API level), ZELT_ANDROID_LIBDIR (the library folder's name in the kit), CMAKE_SYSTEM_PROCESSOR
# and ZELT_QEMU_NAME first.
#
# With ANDROID_NDK_ROOT set, the NDK's own toolchain file does the build. Otherwise Debian's
# clang and lld build against the bionic kit: bionic's headers and static libraries, a static
# libc++ and clang's runtime, the archive bionic-kit-android21.tar.xz in the folder
# ZELT_ANDROID_KIT names (default: ../shared/android beside the source tree), unpacked into
# build-android-kit/ at the top of the source tree. The kit is a stand-in for an NDK, good for
# finding what bionic's headers and library reject; an NDK is the better reference.
set(ZELT_ANDROID_API 21)
get_filename_component(zelt_source_dir ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

if(NOT "$ENV{ANDROID_NDK_ROOT}" STREQUAL "")
    set(ANDROID_ABI ${ZELT_ANDROID_ABI})
    set(ANDROID_PLATFORM android-${ZELT_ANDROID_API})
    set(ANDROID_STL c++_static)
    include($ENV{ANDROID_NDK_ROOT}/build/cmake/android.toolchain.cmake)
else()
    set(CMAKE_SYSTEM_NAME Linux)
    # What the NDK's toolchain file sets: the project's CMake files ask for it.
    set(ANDROID TRUE)
    if(NOT "$ENV{ZELT_ANDROID_KIT}" STREQUAL "")
        set(zelt_kit_archive $ENV{ZELT_ANDROID_KIT}/bionic-kit-android21.tar.xz)
    else()
        get_filename_component(zelt_kit_archive
                               ${zelt_source_dir}/../shared/android/bionic-kit-android21.tar.xz
                               ABSOLUTE)
    endif()
    set(zelt_kit_dir ${zelt_source_dir}/build-android-kit)
    set(zelt_kit ${zelt_kit_dir}/bionic-kit)
    # Unpacked once; every configure (and each of CMake's own test builds) reads this file.
    if(NOT EXISTS ${zelt_kit_dir}/unpacked.stamp)
        if(NOT EXISTS ${zelt_kit_archive})
            message(FATAL_ERROR "No bionic kit at ${zelt_kit_archive} and no ANDROID_NDK_ROOT")
        endif()
        file(ARCHIVE_EXTRACT INPUT ${zelt_kit_archive} DESTINATION ${zelt_kit_dir})
        # clang finds its runtime (the builtins) in its resource folder: the kit's, with clang's
        # own headers beside it.
        execute_process(COMMAND clang -print-resource-dir OUTPUT_VARIABLE zelt_clang_resources
                        OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        file(COPY ${zelt_kit}/resdir/lib DESTINATION ${zelt_kit_dir}/resdir)
        file(CREATE_LINK ${zelt_clang_resources}/include ${zelt_kit_dir}/resdir/include SYMBOLIC)
        file(TOUCH ${zelt_kit_dir}/unpacked.stamp)
    endif()

    set(CMAKE_C_COMPILER clang)
    set(CMAKE_CXX_COMPILER clang++)
    set(CMAKE_C_COMPILER_TARGET ${ZELT_ANDROID_TRIPLE}${ZELT_ANDROID_API})
    set(CMAKE_CXX_COMPILER_TARGET ${ZELT_ANDROID_TRIPLE}${ZELT_ANDROID_API})
    set(CMAKE_SYSROOT ${zelt_kit}/sysroot)
    set(zelt_cxx ${zelt_kit}/cxx/${ZELT_ANDROID_LIBDIR})
    set(zelt_flags "-resource-dir=${zelt_kit_dir}/resdir")
    # Links see the compile flags too; -nostdinc++ means nothing there.
    set(zelt_link_flags "-fuse-ld=lld --rtlib=compiler-rt -stdlib=libc++ -L${zelt_cxx}/lib")
    string(APPEND zelt_link_flags " -Wno-unused-command-line-argument")
    string(APPEND zelt_link_flags " -L${zelt_kit}/sysroot/usr/lib/${ZELT_ANDROID_LIBDIR}")
    if(ZELT_ANDROID_ABI STREQUAL "armeabi-v7a")
        string(APPEND zelt_flags " -mthumb -mfloat-abi=softfp -mfpu=vfpv3-d16")
        # dl_unwind_find_exidx is in both libc.a and libdl.a; libc's, found first, is right.
        string(APPEND zelt_link_flags " -Wl,--allow-multiple-definition")
    endif()
    set(CMAKE_C_FLAGS_INIT "${zelt_flags}")
    set(CMAKE_CXX_FLAGS_INIT "${zelt_flags} -nostdinc++ -isystem ${zelt_cxx}/include/c++/v1")
    set(CMAKE_EXE_LINKER_FLAGS_INIT "${zelt_link_flags}")

    set(CMAKE_FIND_ROOT_PATH ${zelt_kit}/sysroot)
    set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
    set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
    set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
    set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
endif()

# Static programs: the kit holds no shared libraries, and a static program needs no Android
# loader under qemu-user. The device double then cannot be preloaded; the tests link it in.
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -static")
set(ZELT_STATIC ON CACHE BOOL "Link the program statically")
set(ZELT_DOUBLE_LINKED ON CACHE BOOL "Link the device double into test copies of the programs")

find_program(ZELT_QEMU ${ZELT_QEMU_NAME})
if(NOT ZELT_QEMU)
    set(ZELT_QEMU /usr/bin/${ZELT_QEMU_NAME})
endif()
# GoogleTest's temporary folder on Android, /data/local/tmp/, is not on the workstation.
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELT_QEMU} -E TEST_TMPDIR=/tmp/)
