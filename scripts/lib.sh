# Shell helpers shared by the scripts in this folder; source it, do not run it.

# PyPy sizes its young generation to half the largest CPU cache it finds, and
# waits for about 1.8 times that in old objects before its first full collection.
# A virtual machine that reports its host's cache (480 MiB here) thus gives
# every PyPy test process 240 MiB of young generation and over 1 GB resident.
# 4 MiB is PyPy's own size where it finds no cache.
export PYPY_GC_NURSERY=${PYPY_GC_NURSERY:-4M}

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
