# Sourced by the scripts: the Debian packages the project needs and how to install the missing.

# Everything a build, the tests and the demo need. Later suites append to this list.
# python3-pil and imagemagick write the reader's cross-check pictures on the host, in every suite
# (the ARM suites too). The ARM suites add their cross compilers and qemu-user (scripts/cross-suite).
ZELT_PACKAGES="cmake make g++ clang clang-format googletest libgtest-dev libgmock-dev
libbenchmark-dev libstb-dev libpng-dev python3-pil imagemagick"
# The kernel's DRM uapi headers: Debian's native linux-libc-dev leaves them out, the cross
# package for the host's own architecture has them (cmake/drm-uapi.cmake).
ZELT_PACKAGES+=" linux-libc-dev-$(dpkg --print-architecture 2>/dev/null || echo amd64)-cross"

# Installs those of the given packages (default: all of ZELT_PACKAGES) that are missing.
zelt_install_missing() {
    local wanted=${*:-$ZELT_PACKAGES}
    local missing=()
    local package
    for package in $wanted; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=()
    if ((EUID != 0)); then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends \
        "${missing[@]}"
}
