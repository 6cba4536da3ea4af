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
    libx11-dev libxext-dev libxrandr-dev libxinerama-dev libxcursor-dev libjack-jackd2-dev jackd2
    libgtest-dev libbenchmark-dev libfftw3-dev
    fonts-dejavu-core
    xvfb xauth x11-utils imagemagick xdotool python3
    ardour sox lv2-dev sordi
)

# What scripts/package needs on top, and scripts/test for its packaging test.
VARNELLE_PACKAGING_PACKAGES=(dpkg-dev help2man lintian appstream desktop-file-utils lilv-utils)

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

# Where a system-wide Varnelle (the Debian package's, or one installed by hand) lives. Hosts read
# the home folder's plug-in folders and these; with a copy in both they load one copy or parts
# of both, so the user's build is installed only while there is none here.
VARNELLE_SYSTEM_ROOT="${VARNELLE_SYSTEM_ROOT:-}"
# The plug-ins a build makes; the package installs them together.
VARNELLE_PLUGIN_NAMES=("Varnelle" "Varnelle Key")
VARNELLE_SYSTEM_BUNDLES=()
for _name in "${VARNELLE_PLUGIN_NAMES[@]}"; do
    VARNELLE_SYSTEM_BUNDLES+=("usr/lib/vst3/$_name.vst3" "usr/lib/lv2/$_name.lv2"
        "usr/local/lib/vst3/$_name.vst3" "usr/local/lib/lv2/$_name.lv2")
done
unset _name

# Prints the system-wide Varnelle bundles, one a line; nothing when there are none.
find_system_bundles() {
    local bundle
    for bundle in "${VARNELLE_SYSTEM_BUNDLES[@]}"; do
        if [ -d "$VARNELLE_SYSTEM_ROOT/$bundle" ]; then
            echo "$VARNELLE_SYSTEM_ROOT/$bundle"
        fi
    done
}

# install_user_plugins ARTEFACTS USER_HOME: the VST3 and LV2 bundles of Varnelle and Varnelle
# Key that ARTEFACTS holds into USER_HOME, unless a system-wide copy exists; then the copies an
# earlier run put there are removed instead.
install_user_plugins() {
    local artefacts="$1" user_home="$2"
    local system_bundles name
    system_bundles="$(find_system_bundles)"
    local home_bundles=()
    for name in "${VARNELLE_PLUGIN_NAMES[@]}"; do
        home_bundles+=("$user_home/.vst3/$name.vst3" "$user_home/.lv2/$name.lv2")
    done

    if [ -n "$system_bundles" ]; then
        echo "   not installing the VST3 and LV2: Varnelle is installed for every user in"
        echo "$system_bundles" | sed 's/^/     /'
        echo "   and hosts given two copies load one of them or parts of both. To use this build's"
        echo "   plug-ins instead, remove that copy (sudo apt remove varnelle) and run scripts/run again."
        local bundle
        for bundle in "${home_bundles[@]}"; do
            if [ -e "$bundle" ]; then
                rm -rf "$bundle"
                echo "   removed the copy an earlier run installed: $bundle"
            fi
        done
        return 0
    fi

    for name in "${VARNELLE_PLUGIN_NAMES[@]}"; do
        [ -d "$artefacts/VST3/$name.vst3" ] && install_bundle "$artefacts/VST3/$name.vst3" "$user_home/.vst3"
        [ -d "$artefacts/LV2/$name.lv2" ] && install_bundle "$artefacts/LV2/$name.lv2" "$user_home/.lv2"
    done
    return 0
}

# install_bundle SOURCE_BUNDLE TARGET_FOLDER: copies next to the old bundle, then swaps, so a
# failed copy leaves the old one in place.
install_bundle() {
    local source_dir="$1" target_parent="$2"
    local name
    name="$(basename "$source_dir")"
    mkdir -p "$target_parent"
    rm -rf "$target_parent/.$name.new"
    cp -R "$source_dir" "$target_parent/.$name.new"
    rm -rf "$target_parent/$name"
    mv "$target_parent/.$name.new" "$target_parent/$name"
    echo "   $target_parent/$name"
}

# install_user_vst3_presets PRESETS USER_HOME: the factory presets' .vstpreset files the build
# wrote (PRESETS/<plug-in>/) where VST3 hosts look for a user's, under the same rule as the
# plug-ins: not while a system-wide copy exists (its package carries them).
install_user_vst3_presets() {
    local presets="$1" user_home="$2" name target
    [ -z "$(find_system_bundles)" ] || return 0
    for name in "${VARNELLE_PLUGIN_NAMES[@]}"; do
        [ -d "$presets/$name" ] || continue
        target="$user_home/.vst3/presets/Quorvane Audio"
        mkdir -p "$target"
        install_bundle "$presets/$name" "$target"
    done
}

# make_app_icons SHARE_DIR: the app's icon at 48, 128 and 256 pixels under SHARE_DIR/icons/hicolor:
# the banner's mark, the five band bars, on a rounded square of the banner's own background
# colour (so its translucent backdrop disappears into it).
make_app_icons() {
    local share="$1" size icon_dir
    local banner="$VARNELLE_ROOT/resources/0A6132E95-8B23-44DA-AF8C-47069C5DC9BE.png"
    for size in 48 128 256; do
        icon_dir="$share/icons/hicolor/${size}x${size}/apps"
        mkdir -p "$icon_dir"
        convert -size 400x400 xc:none -fill '#223b5e' -draw 'roundrectangle 0,0 399,399 72,72' \
            \( "$banner" -crop 390x176+96+12 +repage \) -gravity center -composite \
            -resize "${size}x${size}" -strip -define png:exclude-chunks=date,time "$icon_dir/varnelle.png"
    done
}

# install_user_menu_entry USER_HOME: the app's menu entry and icon in USER_HOME/.local/share,
# starting the app scripts/run put in USER_HOME/.local/bin (the package's entry starts its own).
install_user_menu_entry() {
    local user_home="$1"
    local share="$user_home/.local/share"
    mkdir -p "$share/applications"
    sed "s|^Exec=.*|Exec=\"$user_home/.local/bin/Varnelle\"|" "$VARNELLE_ROOT/packaging/varnelle.desktop" \
        >"$share/applications/.varnelle.desktop.new"
    mv "$share/applications/.varnelle.desktop.new" "$share/applications/varnelle.desktop"
    make_app_icons "$share"
    echo "   $share/applications/varnelle.desktop"
}
