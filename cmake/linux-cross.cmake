# Shared part of the ARM Linux cross builds with Debian's cross compilers. The including
# toolchain file sets ZELT_TARGET_TRIPLE, CMAKE_SYSTEM_PROCESSOR and ZELT_QEMU_NAME first.
# Programs built here run on the workstation through qemu-user (apt-get install qemu-user):
# CTest and the tests start every target binary through CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${ZELT_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ZELT_TARGET_TRIPLE}-g++)

# Look for libraries and headers in the target's own tree only; programs come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZELT_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The emulator that runs target programs here, with the target's C library as its root for the
# dynamic loader. A list, so that CTest (and gtest_discover_tests) pass each word as an argument
# of its own; tests that start the program themselves receive the same list. Without qemu-user
# installed the build still works and only running the tests fails.
find_program(ZELT_QEMU ${ZELT_QEMU_NAME})
if(NOT ZELT_QEMU)
    set(ZELT_QEMU /usr/bin/${ZELT_QEMU_NAME})
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELT_QEMU} -L /usr/${ZELT_TARGET_TRIPLE})
