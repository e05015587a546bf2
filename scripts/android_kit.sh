# shellcheck shell=bash
# Sourced by the Android checks (scripts/soong-check, scripts/init-check, scripts/sepolicy-check):
# where Android's own sources come from, and what a missing one means.
#
# android_top SCRIPT ARCHIVE FOLDER: sets ANDROID_TOP to the top of a tree laid out as Android's
# that holds the sources a check needs. Where an Android tree is at hand (ANDROID_BUILD_TOP), that
# tree; otherwise ARCHIVE from the project's kit (ZELT_ANDROID_KIT, default ../shared/android
# beside the source tree), unpacked once into build-android-check/, whose top folder is FOLDER.
# A missing archive fails the run in CI (CI set) and elsewhere ends the check with one line and
# exit status 3 (skipped), which scripts/android-check reports in its own status.
android_top() {
    local script=$1 archive=${ZELT_ANDROID_KIT:-../shared/android}/$2 folder=$3
    if [ -n "${ANDROID_BUILD_TOP:-}" ]; then
        ANDROID_TOP=$ANDROID_BUILD_TOP
        return 0
    fi
    if [ ! -f "$archive" ]; then
        if [ -n "${CI:-}" ]; then
            echo "$script: no $archive: CI needs it (ZELT_ANDROID_KIT names the kit)" >&2
            exit 1
        fi
        echo "$script: skipped: no $archive (ZELT_ANDROID_KIT names the kit)"
        exit 3
    fi
    ANDROID_TOP=build-android-check/$folder
    if [ ! -f "$ANDROID_TOP/.unpacked" ] || [ "$archive" -nt "$ANDROID_TOP/.unpacked" ]; then
        rm -rf "$ANDROID_TOP"
        mkdir -p build-android-check
        tar -C build-android-check -xJf "$archive"
        touch "$ANDROID_TOP/.unpacked"
    fi
}
