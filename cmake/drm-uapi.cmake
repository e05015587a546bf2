# The kernel's DRM uapi headers (<drm/drm.h>, <drm/drm_mode.h>): bionic and the ARM cross
# toolchains ship them; Debian's native linux-libc-dev does not, while its cross package for the
# host's own architecture does. Where the compiler cannot find them, the two headers are copied
# from there into the build folder, so that nothing else of that package shadows the system's.
include(CheckIncludeFileCXX)
check_include_file_cxx(drm/drm_mode.h ZELT_HAVE_DRM_UAPI)
if(NOT ZELT_HAVE_DRM_UAPI)
    set(zelt_drm_source /usr/${CMAKE_LIBRARY_ARCHITECTURE}/include/drm)
    if(NOT EXISTS ${zelt_drm_source}/drm_mode.h)
        message(FATAL_ERROR "<drm/drm_mode.h> not found: install the kernel's uapi headers "
                            "(Debian: linux-libc-dev-<arch>-cross for the host's architecture)")
    endif()
    file(COPY ${zelt_drm_source}/drm.h ${zelt_drm_source}/drm_mode.h
         DESTINATION ${CMAKE_BINARY_DIR}/uapi/drm)
    include_directories(SYSTEM ${CMAKE_BINARY_DIR}/uapi)
endif()
