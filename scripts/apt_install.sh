# Sourced by the checking scripts. apt_install PACKAGE...: installs Debian packages without
# questions, refreshing the package lists first when the install cannot find them.
apt_install() {
    local sudo=()
    if ((EUID != 0)); then
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$@" >/dev/null ||
        { "${sudo[@]}" apt-get update -qq && "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$@" >/dev/null; }
}
