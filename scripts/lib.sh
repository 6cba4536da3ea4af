# Shared by the scripts: package installation and the build.
# shellcheck shell=bash

VARNELLE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# ccache keys on relative paths below the checkout, so a fresh clone reuses earlier builds.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$VARNELLE_ROOT}"

# Everything the build, the tests and the tools need, all from Debian's archive.
VARNELLE_PACKAGES=(
    cmake ninja-build g++ pkg-config ccache git
    juce-modules-source juce-tools
    libcurl4-openssl-dev libflac-dev libfreetype-dev libasound2-dev
    libx11-dev libxext-dev libxrandr-dev libxinerama-dev libxcursor-dev
    libgtest-dev libbenchmark-dev libfftw3-dev
    fonts-dejavu-core
    xvfb xauth x11-utils imagemagick xdotool python3
    ardour sox lv2-dev sordi
)

# What scripts/package needs on top, and scripts/test for its packaging test.
VARNELLE_PACKAGING_PACKAGES=(dpkg-dev help2man lintian)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "error: installing packages needs root; run this as root or install sudo" >&2
        return 1
    fi
}

# Installs whichever of the given packages are missing; does nothing when all are present.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    echo "== installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_and_build BUILD_DIR [cmake args...] -- [targets...]
configure_and_build() {
    local build_dir="$1"
    shift
    local cmake_args=()
    while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
        cmake_args+=("$1")
        shift
    done
    [ "${1:-}" = "--" ] && shift
    local targets=("$@")

    echo "== configuring $build_dir"
    cmake -S "$VARNELLE_ROOT" -B "$build_dir" -G Ninja "${cmake_args[@]}"
    echo "== building $build_dir"
    if [ "${#targets[@]}" -gt 0 ]; then
        cmake --build "$build_dir" -j "${VARNELLE_JOBS:-2}" --target "${targets[@]}"
    else
        cmake --build "$build_dir" -j "${VARNELLE_JOBS:-2}"
    fi
}
