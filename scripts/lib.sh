# Shell helpers shared by the scripts in this folder: source "$(dirname "$0")/lib.sh".

step() { printf '\n=== %s\n' "$*"; }

apt_install() {
    local missing=()
    for pkg in "$@"; do dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg"); done
    if ((${#missing[@]})); then
        step "apt-get install ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}
