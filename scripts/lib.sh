# Shared by scripts/run-demo and scripts/run-tests: package installation and the build.
# Sourced, not run.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LOGDIR="$ROOT/build/logs"
# ccache keys paths relative to the checkout, so a fresh clone elsewhere reuses the objects.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}

# Packages the core, the command-line program, the tests and the fixture builder need.
BASE_PACKAGES=(g++ cmake ninja-build ccache pkg-config python3 liburing-dev libfmt-dev nlohmann-json3-dev libcli11-dev
    libpugixml-dev libarchive-dev zlib1g-dev libbz2-dev dosfstools mtools exfatprogs exfat-fuse ntfs-3g fdisk gdisk util-linux
    gzip bzip2 tar gcab fastjar libarchive-tools python3-docx python3-openpyxl imagemagick libimage-exiftool-perl
    enscript ghostscript qpdf python3-xlwt python3-olefile wp2latex sleuthkit)
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev assimp-utils python3-ezdxf)
# The desktop program (libgl-dev: Qt's CMake files look for the OpenGL headers) and its
# screenshots (xvfb).
GUI_PACKAGES=(qt6-base-dev qt6-image-formats-plugins libgl-dev xvfb xauth)

# Installs the packages that are missing; silent when none is.
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [[ ${#missing[@]} -eq 0 ]] && return 0
    if [[ $(id -u) -ne 0 ]]; then
        echo "Missing packages: ${missing[*]} (run as root to install them)" >&2
        return 1
    fi
    echo "Installing ${missing[*]} ..."
    mkdir -p "$LOGDIR"
    if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"; } \
        >"$LOGDIR/apt.log" 2>&1; then
        echo "Package installation failed; see $LOGDIR/apt.log" >&2
        tail -n 20 "$LOGDIR/apt.log" >&2
        return 1
    fi
}

# configure_and_build DIR [cmake options...] -- [targets...]
configure_and_build() {
    local dir=$1
    shift
    local opts=() targets=()
    while [[ $# -gt 0 && $1 != -- ]]; do opts+=("$1"); shift; done
    [[ $# -gt 0 ]] && shift
    targets=("$@")
    mkdir -p "$LOGDIR"
    local log="$LOGDIR/$(basename "$dir").log"
    # Configured every time, so options added since the tree was made (BRENVALE_WERROR) apply.
    if ! cmake -S "$ROOT" -B "$dir" -G Ninja "${opts[@]}" >"$log" 2>&1; then
        echo "Configuring $dir failed:" >&2
        tail -n 40 "$log" >&2
        return 1
    fi
    local target_args=()
    [[ ${#targets[@]} -gt 0 ]] && target_args=(--target "${targets[@]}")
    if ! cmake --build "$dir" "${target_args[@]}" -j "$(nproc)" >>"$log" 2>&1; then
        echo "Building $dir failed:" >&2
        grep -E "error|Error|warning" -A5 "$log" | head -n 60 >&2
        return 1
    fi
}
