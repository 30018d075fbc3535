# Installs the Debian packages that building, testing and running Sonalyx
# need and that are not installed yet. Run it (bash scripts/setup.sh), or
# source it: scripts/test.sh and scripts/run.sh do, for ensure_packages and
# configure_and_build.

SONALYX_ROOT=${SONALYX_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

SONALYX_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libqt6opengl6-dev libgl-dev
    libgl1-mesa-dri libglx-mesa0 # Mesa's software OpenGL (llvmpipe) for Xvfb
    libx11-dev
    libpulse-dev pulseaudio pulseaudio-utils
    xvfb xauth fonts-dejavu-core
    fonts-wine # metric-compatible Tahoma and MS Sans Serif for the view frames
    libgtest-dev libbenchmark-dev libfftw3-dev
    libebur128-dev # loudness after EBU R128 / ITU-R BS.1770
    libsndfile1-dev # impulse responses as WAV files
    ccache          # a rebuild of unchanged sources is taken from the cache
    ladspa-sdk      # a LADSPA filter of known response for the response measurement's tests
)

missing_packages() {
    local pkg
    for pkg in "${SONALYX_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            echo "$pkg"
        fi
    done
}

ensure_packages() {
    local missing
    mapfile -t missing < <(missing_packages)
    if [[ ${#missing[@]} -eq 0 ]]; then
        return 0
    fi
    local sudo=()
    if [[ $(id -u) -ne 0 ]]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages: ${missing[*]}; install them as root (apt-get install ${missing[*]})" >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "Installing Debian packages: ${missing[*]}"
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The compiler cache, shared by every checkout of the tree: paths below the
# checkout are hashed relative to it, so a fresh clone elsewhere (as CI
# makes) finds what an earlier build compiled. Nothing when ccache is
# missing or SONALYX_CCACHE=0. Sets compiler_cache_args for cmake.
use_compiler_cache() {
    compiler_cache_args=()
    if [[ ${SONALYX_CCACHE:-1} == 0 ]] || ! command -v ccache >/dev/null; then
        return 0
    fi
    # A cache that cannot be written would fail every compile: build without.
    local dir=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ccache}
    if ! mkdir -p "$dir" 2>/dev/null || [[ ! -w $dir ]]; then
        return 0
    fi
    export CCACHE_BASEDIR="$SONALYX_ROOT" CCACHE_NOHASHDIR=true
    compiler_cache_args=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
}

# configure_and_build BUILD_DIR TARGET... -- CMAKE_ARGS...
# Ninja, two jobs: the machines this runs on have two cores.
configure_and_build() {
    local dir=$1
    shift
    local targets=()
    while [[ $# -gt 0 && $1 != -- ]]; do
        targets+=("$1")
        shift
    done
    [[ ${1:-} == -- ]] && shift
    use_compiler_cache
    cmake -S "$SONALYX_ROOT" -B "$dir" -G Ninja "${compiler_cache_args[@]}" "$@"
    cmake --build "$dir" -j 2 ${targets:+--target "${targets[@]}"}
}

# Run directly: just install what is missing.
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -euo pipefail
    ensure_packages
fi
