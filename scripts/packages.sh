# shellcheck shell=bash
# Sourced by the scripts: the Debian packages the project needs and how to install the missing.
# shellcheck source=scripts/apt_install.sh
source "$(dirname "${BASH_SOURCE[0]}")/apt_install.sh"

# Everything a build, the tests and the demo need. Later suites append to this list.
# liblz4-dev and zlib (with libpng-dev) measure the pictures' cost in zelt-assets; lz4's tool checks
# that figure. python3-pil and imagemagick write the reader's cross-check pictures on the host, in
# every suite (the ARM suites too). The ARM suites add their cross compilers and qemu-user (scripts/cross-suite).
ZELT_PACKAGES="cmake make g++ clang clang-format googletest libgtest-dev libgmock-dev
libbenchmark-dev libstb-dev libpng-dev liblz4-dev lz4 python3-pil imagemagick"
# The kernel's DRM uapi headers: Debian's native linux-libc-dev leaves them out, the cross
# package for the host's own architecture has them (cmake/drm-uapi.cmake).
ZELT_PACKAGES+=" linux-libc-dev-$(dpkg --print-architecture 2>/dev/null || echo amd64)-cross"

# Installs those of the given packages (default: all of ZELT_PACKAGES) that are missing.
zelt_install_missing() {
    if (($# == 0)); then
        # shellcheck disable=SC2086 # the package list is split on purpose
        set -- $ZELT_PACKAGES
    fi
    apt_install_missing "$@"
}
