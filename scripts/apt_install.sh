# shellcheck shell=bash
# Sourced by the scripts: installing Debian packages without questions, as root or through sudo.

# apt_root COMMAND...: runs COMMAND as root.
apt_root() {
    if ((EUID != 0)); then
        sudo "$@"
    else
        "$@"
    fi
}

# apt_update: refreshes the package lists. A failed refresh is only a warning: one index that
# cannot be read (a mirror in the middle of a sync serves a foreign architecture's list with the
# wrong size) fails the whole update, yet the lists at hand may still hold what is needed; the
# install or download that follows fails when they do not.
apt_update() {
    apt_root apt-get update -qq ||
        echo "warning: apt-get update failed; trying with the package lists at hand" >&2
}

# apt_install PACKAGE...: installs the packages; when that fails (the lists older than the
# archive, or without the packages), refreshes the lists and tries once more.
apt_install() {
    # Waits for dpkg's lock, held while another script of the project installs at the same time.
    local install=(apt_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq
        -o DPkg::Lock::Timeout=600 --no-install-recommends "$@")
    "${install[@]}" >/dev/null || {
        apt_update
        "${install[@]}" >/dev/null
    }
}

# apt_install_missing PACKAGE...: installs those of the packages that are not installed.
apt_install_missing() {
    local missing=() package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    apt_install "${missing[@]}"
}
