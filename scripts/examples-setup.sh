# Sourced by the first (hidden) line of every markdown page with console examples, in the shell
# that scripts/examples has cram run the page's examples in: a fresh temporary folder, with
# ZELT_ROOT naming the repository (whose release build holds the tools).
#
# The examples run the real tools. build/ here is the repository's build/. What needs a device
# runs under the device double (tests/double/):
#   device SCREEN [VIRTUAL]   describes the device's framebuffer for the next adb commands
#                             (ZELT_DOUBLE_SCREEN and ZELT_DOUBLE_VIRTUAL); kms:WxH: no
#                             framebuffer, a KMS card whose display prefers WxH (ZELT_DOUBLE_KMS)
#   adb shell 'COMMAND'       runs COMMAND on that "device": /data/local/tmp/zelt-probe is
#                             build/zelt-probe with the double preloaded, /ZELT/media/ holds the
#                             sample pictures and `start` is in /system/bin on PATH. Paths in
#                             the device folder are printed as the device's own (normalised).
ln -s "$ZELT_ROOT/build" build
zelt_device=$PWD/device
mkdir -p "$zelt_device/system/bin" "$zelt_device/ZELT"
build/zelt-samples "$zelt_device/ZELT/media" >/dev/null
# A `start` that leaves a mark if anything ever runs it (the probe only looks for it).
printf '#!/bin/sh\ntouch "$0.ran"\n' >"$zelt_device/system/bin/start"
chmod 755 "$zelt_device/system/bin/start"

zelt_screen=720x1280x32
zelt_virtual=
device() {
    zelt_screen=$1
    zelt_virtual=${2:-}
}

adb() {
    if [ "${1:-}" != shell ] || [ $# -ne 2 ]; then
        echo "examples: the adb stand-in answers only: adb shell 'COMMAND'" >&2
        return 2
    fi
    local command=${2//\/data\/local\/tmp\/zelt-probe/"$PWD/build/zelt-probe"}
    command=${command//"$PWD/build/zelt-probe"/"LD_PRELOAD=$PWD/build/tests/double/zelt-double.so $PWD/build/zelt-probe"}
    local settings=(ZELT_DOUBLE_SCREEN="$zelt_screen" ZELT_DOUBLE_MEDIA="$zelt_device/ZELT/media")
    if [ "${zelt_screen#kms:}" != "$zelt_screen" ]; then
        settings=(ZELT_DOUBLE_KMS="${zelt_screen#kms:}" ZELT_DOUBLE_MEDIA="$zelt_device/ZELT/media")
    fi
    if [ -n "$zelt_virtual" ]; then
        settings+=(ZELT_DOUBLE_VIRTUAL="$zelt_virtual")
    fi
    env "${settings[@]}" PATH="$zelt_device/system/bin:$PATH" sh -c "$command" 2>&1 |
        sed "s#$zelt_device##g"
}
