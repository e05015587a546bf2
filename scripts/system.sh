# shellcheck shell=bash
# Sourced by scripts/system-test and scripts/demo: what it takes to run the program on a real ARM
# Linux kernel under qemu-system. Debian's own kernel and busybox (fetched with apt-get download,
# kept in .cache/system-test/), a static build of the program per target, and an initramfs whose
# /init loads the virtio GPU driver, links /dev/graphics/fb0 to the kernel's /dev/fb0 and runs
# the steps named on the kernel command line (tests/system/init).
# Needs scripts/packages.sh and scripts/cross-suite sourced first.

SYSTEM_CACHE=.cache/system-test
# shellcheck disable=SC2034 # read by the scripts that source this file
SYSTEM_TARGETS="aarch64 armhf"

# Debian architecture, kernel flavour and cross compiler of a target.
system_arch() {
    case $1 in
        aarch64) echo arm64 ;;
        armhf) echo armhf ;;
        *) return 1 ;;
    esac
}
system_flavour() {
    case $1 in
        aarch64) echo arm64 ;;
        armhf) echo armmp-lpae ;; # the virt machine's cortex-a15 has LPAE
    esac
}
system_triple() {
    case $1 in
        aarch64) echo aarch64-linux-gnu ;;
        armhf) echo arm-linux-gnueabihf ;;
    esac
}

# Installs the host packages and the foreign architectures apt-get download needs.
system_install() {
    # pahole and libelf1: the kernel's module build (BTF, and the linux-kbuild programs).
    zelt_install_missing cmake make g++ libpng-dev qemu-system-arm cpio xz-utils python3 \
        python3-pil zstd g++-aarch64-linux-gnu g++-arm-linux-gnueabihf pahole libelf1
    local arch added=no
    for arch in arm64 armhf; do
        if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            apt_root dpkg --add-architecture "$arch"
            added=yes
        fi
    done
    if [ "$added" = yes ] || ! apt-cache show busybox-static:arm64 >/dev/null 2>&1; then
        apt_update
    fi
}

# The newest kernel image package of the target's flavour: a version before the flavour (so not
# the cloud or rt flavours, nor the meta or unsigned packages).
system_kernel_package() {
    local flavour
    flavour=$(system_flavour "$1")
    apt-cache search --names-only "^linux-image-[0-9].*[0-9]-$flavour\$" | awk '{print $1}' |
        sort -V | tail -n 1
}

# system_download DIR PACKAGE:ARCH: apt-get download into DIR unless the candidate version's .deb
# is there already; prints the .deb's path. When the download fails (package lists older than the
# archive) the lists are refreshed and the download tried once more.
system_download() {
    local dir=$1 package=${2%:*} arch=${2#*:} attempt version file
    mkdir -p "$dir"
    for attempt in 1 2; do
        version=$(apt-cache show --no-all-versions "$2" | sed -n 's/^Version: //p')
        file="$dir/${package}_${version//:/%3a}_$arch.deb"
        if [ -f "$file" ] || (cd "$dir" && apt-get download -qq "$2" 2>/dev/null); then
            echo "$file"
            return 0
        fi
        if [ "$attempt" = 1 ]; then
            apt_update
        fi
    done
    echo "system: cannot download $2" >&2
    return 1
}

# system_fetch TARGET: the kernel and busybox .debs of TARGET, kept in $SYSTEM_CACHE/TARGET/ and
# unpacked once into $SYSTEM_CACHE/TARGET/<package>/; an older kernel's files are removed. Sets
# SYSTEM_ROOT (the kernel's tree) and SYSTEM_BUSYBOX.
system_fetch() {
    local target=$1 arch kernel deb
    arch=$(system_arch "$target")
    kernel=$(system_kernel_package "$target")
    if [ -z "$kernel" ]; then
        echo "system: no kernel image package found for $target" >&2
        return 1
    fi
    local dir=$SYSTEM_CACHE/$target
    for deb in "$kernel" busybox-static; do
        local file
        file=$(system_download "$dir" "$deb:$arch") || return 1
        if [ ! -f "$dir/$deb/.unpacked" ] || [ "$(cat "$dir/$deb/.unpacked")" != "$file" ]; then
            rm -rf "${dir:?}/$deb"
            mkdir -p "$dir/$deb"
            dpkg-deb -x "$file" "$dir/$deb" || return 1
            echo "$file" >"$dir/$deb/.unpacked"
        fi
    done
    find "$dir" -maxdepth 1 -name 'linux-image-*' ! -name "$kernel" ! -name "${kernel}_*" \
        -exec rm -rf {} +
    SYSTEM_ROOT=$dir/$kernel
    SYSTEM_BUSYBOX=$dir/busybox-static/bin/busybox
    echo "system: $target: $kernel, $(basename "$(cat "$dir/busybox-static/.unpacked")")"
}

# system_build TARGET PROGRAMS...: the static build of the named programs for TARGET in
# build-system-TARGET/.
system_build() {
    local target=$1
    shift
    cmake --preset "$target" -B "build-system-$target" -DZELT_STATIC=ON \
        -DZELT_BUILD_TESTS=OFF >/dev/null
    cmake --build "build-system-$target" -j 2 --target "$@" >/dev/null
}

# Prints the modules (file paths under $SYSTEM_ROOT) that the named modules need, each after
# the modules it depends on, as their own `depends=` fields say; built-in ones are left out.
system_module_order() {
    local modules
    modules=$(echo "$SYSTEM_ROOT"/lib/modules/*)
    declare -A file_of=() seen=()
    local path name
    while read -r path; do
        name=$(basename "$path")
        name=${name%%.ko*}
        file_of[${name//-/_}]=$path
    done < <(find "$modules/kernel" -name '*.ko*')
    visit() {
        local name=${1//-/_} dep
        [ -n "${seen[$name]:-}" ] && return 0
        seen[$name]=1
        if [ -z "${file_of[$name]:-}" ]; then
            grep -q "/${1}.ko\$\|/${name}.ko\$" "$modules/modules.builtin" && return 0
            echo "system: module $name not found" >&2
            return 1
        fi
        for dep in $(system_module_field "${file_of[$name]}" depends | tr ',' ' '); do
            visit "$dep" || return 1
        done
        echo "${file_of[$name]}"
    }
    for name in "$@"; do
        visit "$name" || return 1
    done
}

# system_module_cat FILE: a module's bytes, decompressed (busybox insmod takes plain ones).
system_module_cat() {
    case $1 in
        *.xz) xz -dc "$1" ;;
        *.zst) zstd -dcq "$1" ;;
        *.gz) gzip -dc "$1" ;;
        *) cat "$1" ;;
    esac
}

# system_module_field FILE FIELD: a field of a module's .modinfo.
system_module_field() {
    system_module_cat "$1" | tr '\0' '\n' | sed -n "s/^$2=//p" | head -n 1
}

# system_bionic TARGET: the program built statically against bionic for the target's ABI
# (scripts/cross-suite's bionic builds), as build-system-TARGET/zelt-animation-bionic. Returns 2,
# saying why in one line, when neither the bionic kit nor an NDK is at hand, and 1 when a step
# fails: it is called in a condition, where set -e does not hold, so each step says so itself.
system_bionic() {
    local target=$1 preset
    case $target in
        aarch64) preset=bionic-arm64 ;;
        armhf) preset=bionic-armv7a ;;
    esac
    if ! bionic_at_hand; then
        echo "system: no bionic kit at $(bionic_kit_folder) and no ANDROID_NDK_ROOT:" \
            "the bionic program is not tried"
        return 2
    fi
    local packages
    packages=$(cross_suite_packages "$preset") || return 1
    # shellcheck disable=SC2086 # the package list is split on purpose
    zelt_install_missing $packages || return 1
    rm -f "build-system-$target/zelt-animation-bionic"
    cmake --preset "$preset" -B "build-system-$preset" -DZELT_BUILD_TESTS=OFF >/dev/null &&
        cmake --build "build-system-$preset" -j 2 --target zelt-animation >/dev/null &&
        cp "build-system-$preset/zelt-animation" "build-system-$target/zelt-animation-bionic" || {
        echo "system: the bionic program for $target does not build" >&2
        return 1
    }
}

# system_initramfs TARGET MEDIA_DIR OUT PROGRAMS...: an uncompressed initramfs with busybox,
# tests/system/init, the display modules in load order, the pictures at /ZELT/media/ and the
# named programs from build-system-TARGET/. After system_vfb also vfb.ko (loaded by the steps
# that use it), the virtio disk driver the dumps leave by, and fbmode. Runs in a subshell so
# that its temporary tree goes on every exit.
system_initramfs() (
    local target=$1 media=$2 out=$3
    shift 3
    local tree
    tree=$(mktemp -d)
    trap 'rm -rf "$tree"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    mkdir -p "$tree"/{bin,dev,proc,sys,tmp,lib/modules,ZELT}
    cp "$SYSTEM_BUSYBOX" "$tree/bin/busybox"
    cp tests/system/init "$tree/init"
    cp tests/system/start "$tree/bin/start"
    # bionic's system() runs /system/bin/sh: busybox's shell, as /bin/sh is.
    mkdir -p "$tree/system/bin"
    ln -s /bin/busybox "$tree/system/bin/sh"
    cp -r "$media" "$tree/ZELT/media"
    local program module name
    for program in "$@"; do
        "$(system_triple "$target")-strip" -o "$tree/bin/$program" "build-system-$target/$program"
    done
    # virtio_pci: the PCI transport; virtio_gpu: the display, with its fbdev emulation;
    # virtio_blk: the disk that carries the vfb memory dumps out.
    local order
    order=$(system_module_order virtio_pci virtio_gpu ${SYSTEM_VFB:+virtio_blk}) || return 1
    for module in $order; do
        name=$(basename "$module")
        name=${name%%.ko*}
        system_module_cat "$module" >"$tree/lib/modules/$name.ko"
        echo "$name" >>"$tree/lib/modules/load-order"
    done
    if [ -n "${SYSTEM_VFB:-}" ]; then
        cp "$SYSTEM_VFB" "$tree/lib/modules/vfb.ko"
        cp "build-system-$target/fbmode" "$tree/bin/fbmode"
    fi
    chmod 755 "$tree/init" "$tree/bin/"*
    (cd "$tree" && find . | cpio -o -H newc --owner=0:0 --quiet) >"$out"
)

# system_vfb TARGET: the kernel's virtual framebuffer driver for the fetched kernel, which Debian
# does not build (CONFIG_FB_VIRTUAL is not set), and fbmode, the mode and pan helper, in
# build-system-TARGET/. vfb.c comes from linux-source-X.Y of the kernel's series (its own
# version, or the one the lists hold when a mirror is a point release apart); it is
# built out of tree against the kernel's linux-headers (the flavour's and the -common ones) with
# the host's linux-kbuild and the target's cross compiler, of the version the headers name. The
# module (these kernels load it unsigned) is kept as $SYSTEM_CACHE/TARGET/vfb-RELEASE.ko, vfb.c
# as $SYSTEM_CACHE/vfb-VERSION.c. Sets SYSTEM_VFB.
system_vfb() {
    local target=$1 arch kernel release version
    "$(system_triple "$target")-gcc" -static -O2 -Wall -Wextra -Werror \
        -o "build-system-$target/fbmode" tests/system/fbmode.c || return 1
    arch=$(system_arch "$target")
    kernel=$(basename "$SYSTEM_ROOT")
    release=${kernel#linux-image-}
    SYSTEM_VFB=$SYSTEM_CACHE/$target/vfb-$release.ko
    [ -f "$SYSTEM_VFB" ] && return 0
    version=$(apt-cache show --no-all-versions "$kernel:$arch" | sed -n 's/^Version: //p')
    # An older kernel's module and source go.
    rm -f "$SYSTEM_CACHE/$target"/vfb-*.ko
    find "$SYSTEM_CACHE" -maxdepth 1 -name 'vfb-*.c' ! -name "vfb-$version.c" -delete
    # The subshell runs left of ||, where set -e does not hold: each step ends it on failure.
    (
        local tree source vfb_c headers common kbuild
        tree=$(mktemp -d) || exit 1
        trap 'rm -rf "$tree"' EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
        source=linux-source-$(echo "$release" | cut -d. -f1,2)
        vfb_c=$SYSTEM_CACHE/vfb-$version.c
        if [ ! -f "$vfb_c" ]; then
            local found
            # Mirrors may be a point release apart between the two packages; vfb.c of the same
            # series builds against the kernel all the same.
            found=$(apt-cache show --no-all-versions "$source" 2>/dev/null |
                sed -n 's/^Version: //p')
            if [ -z "$found" ]; then
                echo "system: no $source to take vfb.c from" >&2
                exit 1
            elif [ "$found" != "$version" ]; then
                echo "system: vfb.c from $source $found for the kernel $version" >&2
            fi
            local deb
            deb=$(system_download "$tree" "$source:all") || exit 1
            # The one file; tar stops at it, so the pipe's writers may end on a broken pipe.
            dpkg-deb --fsys-tarfile "$deb" 2>/dev/null | tar -xO "./usr/src/$source.tar.xz" |
                tar -xJO --occurrence=1 "$source/drivers/video/fbdev/vfb.c" \
                    >"$tree/vfb.c" 2>/dev/null || true
            grep -q vfb_enable "$tree/vfb.c" || {
                echo "system: no vfb.c in $deb" >&2
                exit 1
            }
            mv "$tree/vfb.c" "$vfb_c" || exit 1
            rm -f "$deb"
        fi
        headers=linux-headers-$release
        local depends
        depends=$(apt-cache show --no-all-versions "$headers:$arch" | sed -n 's/^Depends: //p')
        common=$(echo "$depends" | grep -o 'linux-headers-[^ ,]*-common' | head -n 1)
        kbuild=$(echo "$depends" | grep -o 'linux-kbuild-[^ ,]*' | head -n 1)
        for deb in "$headers:$arch" "$common:all" "$kbuild:$(dpkg --print-architecture)"; do
            deb=$(system_download "$tree/debs" "$deb") || exit 1
            dpkg-deb -x "$deb" "$tree/root" || exit 1
        done
        # The flavour's Makefile includes the -common one by its installed path.
        sed -i "s|/usr/src/|$tree/root/usr/src/|" "$tree/root/usr/src/$headers/Makefile" &&
            mkdir "$tree/vfb" && cp "$vfb_c" "$tree/vfb/vfb.c" &&
            echo 'obj-m := vfb.o' >"$tree/vfb/Kbuild" || exit 1
        # The cross compiler by name: the headers' .kernelvariables name it only where the
        # build says it is a cross build (DEB_BUILD_ARCH and DEB_HOST_ARCH differ), which
        # nothing sets here; without it their gcc-12 is the host's own.
        make -s -C "$tree/root/usr/src/$headers" M="$tree/vfb" \
            CROSS_COMPILE="$(system_triple "$target")-" modules >&2 || exit 1
        cp "$tree/vfb/vfb.ko" "$SYSTEM_VFB.tmp" && mv "$SYSTEM_VFB.tmp" "$SYSTEM_VFB" || exit 1
    ) || return 1
    echo "system: $target: built $(basename "$SYSTEM_VFB")"
}

# system_kernel: the kernel image of the fetched tree.
system_kernel() {
    echo "$SYSTEM_ROOT"/boot/vmlinuz-*
}
