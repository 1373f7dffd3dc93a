# Shell helpers shared by the scripts in this folder; source it, do not run it.

# A heading for the next step of a script.
step() { printf '\n=== %s\n' "$*"; }

# Installs the Debian packages that are missing (nothing when all are there).
apt_install() {
    local missing=()
    for pkg in "$@"; do dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg"); done
    if ((${#missing[@]})); then
        step "apt-get install ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}
