#!/usr/bin/env bash
# Checks a built varnelle .deb the way it will be installed: unpacked into a scratch root
# (dpkg-deb -x), never into the system. Prints one line per check and "N passed, N failed".
#
# usage: check-package.sh VARNELLE_DEB
set -uo pipefail

if [ "$#" -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 VARNELLE_DEB" >&2
    exit 2
fi
deb="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"

passed=0
failed=0
check() { # check NAME COMMAND...: runs the command quietly, its output shown only on failure
    local name="$1" output line
    shift
    if output="$("$@" 2>&1)"; then
        echo "PASS: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name"
        [ -n "$output" ] && while IFS= read -r line; do echo "      $line"; done <<<"$output"
        failed=$((failed + 1))
    fi
}

# none COMMAND...: succeeds when the command prints nothing, else shows what it printed.
none() {
    local out
    out="$("$@")"
    [ -z "$out" ] || { echo "$out"; return 1; }
}

if ! dpkg-deb -x "$deb" "$root"; then
    echo "FAIL: dpkg-deb -x could not unpack $deb"
    echo "0 passed, 1 failed"
    exit 1
fi

version="$(dpkg-parsechangelog -l "$repo/packaging/debian/changelog" -S Version)"
expected_files="usr/bin/varnelle
usr/bin/varnelle-render
usr/lib/lv2/Varnelle Key.lv2/dsp.ttl
usr/lib/lv2/Varnelle Key.lv2/libVarnelle Key.so
usr/lib/lv2/Varnelle Key.lv2/manifest.ttl
usr/lib/lv2/Varnelle Key.lv2/presets.ttl
usr/lib/lv2/Varnelle Key.lv2/ui.ttl
usr/lib/lv2/Varnelle.lv2/dsp.ttl
usr/lib/lv2/Varnelle.lv2/libVarnelle.so
usr/lib/lv2/Varnelle.lv2/manifest.ttl
usr/lib/lv2/Varnelle.lv2/presets.ttl
usr/lib/lv2/Varnelle.lv2/ui.ttl
usr/lib/vst3/Varnelle Key.vst3/Contents/x86_64-linux/Varnelle Key.so
usr/lib/vst3/Varnelle.vst3/Contents/x86_64-linux/Varnelle.so
usr/share/applications/varnelle.desktop
usr/share/doc/varnelle/changelog.Debian.gz
usr/share/doc/varnelle/copyright
usr/share/icons/hicolor/128x128/apps/varnelle.png
usr/share/icons/hicolor/256x256/apps/varnelle.png
usr/share/icons/hicolor/48x48/apps/varnelle.png
usr/share/man/man1/varnelle-render.1.gz
usr/share/man/man1/varnelle.1.gz
usr/share/metainfo/com.quorvane.varnelle.metainfo.xml
usr/share/vst3/presets/Quorvane Audio/Varnelle Key/Factory - Clear Low-Mid Build-Up.vstpreset
usr/share/vst3/presets/Quorvane Audio/Varnelle Key/Factory - Lift Quiet Air.vstpreset
usr/share/vst3/presets/Quorvane Audio/Varnelle Key/Factory - Soften Sibilance.vstpreset
usr/share/vst3/presets/Quorvane Audio/Varnelle Key/Factory - Steady Low End.vstpreset
usr/share/vst3/presets/Quorvane Audio/Varnelle Key/Factory - Tame Harsh Peaks.vstpreset
usr/share/vst3/presets/Quorvane Audio/Varnelle/Factory - Clear Low-Mid Build-Up.vstpreset
usr/share/vst3/presets/Quorvane Audio/Varnelle/Factory - Lift Quiet Air.vstpreset
usr/share/vst3/presets/Quorvane Audio/Varnelle/Factory - Soften Sibilance.vstpreset
usr/share/vst3/presets/Quorvane Audio/Varnelle/Factory - Steady Low End.vstpreset
usr/share/vst3/presets/Quorvane Audio/Varnelle/Factory - Tame Harsh Peaks.vstpreset"

file_list() { (cd "$root" && find . -type f -printf '%P\n' | LC_ALL=C sort); }
check "the package holds exactly the expected files" \
    diff -u <(echo "$expected_files") <(file_list)

check "its name is varnelle_${version}_amd64.deb" \
    test "$(basename "$deb")" = "varnelle_${version}_amd64.deb"

field() { dpkg-deb -f "$deb" "$1"; }
check "control: package varnelle $version for amd64" \
    test "$(field Package) $(field Version) $(field Architecture)" = "varnelle $version amd64"

# What the binaries link and what JUCE opens for a window must both be there.
depends_on() {
    local depends names pkg
    depends="$(field Depends)"
    names="$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')"
    for pkg in "$@"; do
        grep -qxF "$pkg" <<<"$names" || { echo "Depends lacks $pkg: $depends"; return 1; }
    done
}
check "Depends holds the linked libraries (dpkg-shlibdeps)" \
    depends_on libc6 libstdc++6 libfftw3-single3 libflac12 libcurl4 libfreetype6
check "Depends holds the X libraries that JUCE opens at run time" depends_on libx11-6 libxext6
jack_optional() {
    ! grep -q 'libjack' <<<"$(field Depends)" && grep -q '^libjack-jackd2-0 ' <<<"$(field Recommends) "
}
check "JACK is recommended, not a dependency" jack_optional

# Only the two programs are executable; the plug-ins' libraries are read-only data to dpkg.
modes() {
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $1, $2, $6 }' | LC_ALL=C sort -k3
}
bad_modes() {
    modes | awk '
        $3 ~ /^usr\/bin\// { if ($1 != "-rwxr-xr-x") print; next }
        $1 != "-rw-r--r--" { print }'
}
not_root() { modes | awk '$2 != "root/root"'; }
check "programs are 755, every other file 644" none bad_modes
check "every file belongs to root" none not_root

binaries=("$root/usr/bin/varnelle" "$root/usr/bin/varnelle-render")
mapfile -t -O 2 binaries < <(find "$root/usr/lib" -type f -name '*.so' | LC_ALL=C sort)
not_stripped() {
    local f
    for f in "${binaries[@]}"; do
        grep -E '\.symtab|\.debug_' <<<"$(readelf -SW "$f")" >/dev/null && echo "${f#"$root"/} keeps its symbols"
    done
}
check "the binaries are stripped" none not_stripped

# The package is the release: its update check asks the maker's site, never a loopback port as
# the test builds set. (The update code names "http://127.0.0.1/" once without a port, only to
# construct JUCE's curl lock early; it never connects there.)
loopback_check() {
    local f text
    for f in "${binaries[@]}"; do
        text="$(strings -a "$f")"
        if grep -E '(127\.0\.0\.1|localhost|\[::1\]):[0-9]' <<<"$text"; then
            echo "${f#"$root"/}: a loopback site"
            return 1
        fi
    done
    return 0
}
check "no test setting: no loopback site in the binaries" loopback_check

help_text="$("$root/usr/bin/varnelle-render" --help 2>&1)"
help_status=$?
check "the installed varnelle-render --help succeeds" test "$help_status" -eq 0
check "its help begins with the usage" grep -q '^Usage: varnelle-render IN OUT' <<<"$help_text"

# The stripped, hardened renderer still runs the processor: one second of stereo 48 kHz in,
# one second out.
render_check() {
    sox -n -r 48000 -c 2 -b 16 "$scratch/in.wav" synth 1 sine 1000 gain -6 &&
        "$root/usr/bin/varnelle-render" "$scratch/in.wav" "$scratch/out.wav" --set band3_gain=-12 &&
        test "$(soxi -s "$scratch/out.wav")" = 48000 && test "$(soxi -c "$scratch/out.wav")" = 2
}
check "the installed varnelle-render renders a file" render_check

man_check() {
    grep -q -- 'save\\-state' <<<"$(zcat "$root/usr/share/man/man1/varnelle-render.1.gz")" &&
        grep -q '^\.TH VARNELLE 1' <<<"$(zcat "$root/usr/share/man/man1/varnelle.1.gz")"
}
check "the manual pages hold varnelle-render's options and varnelle's page" man_check

desktop_check() {
    local d="$root/usr/share/applications/varnelle.desktop"
    grep -qx 'Exec=varnelle' "$d" && grep -qx 'Icon=varnelle' "$d" &&
        test "$(identify -format '%wx%h' "$root/usr/share/icons/hicolor/256x256/apps/varnelle.png")" = 256x256
}
check "the menu entry starts varnelle with its 256x256 icon" desktop_check

metainfo="$root/usr/share/metainfo/com.quorvane.varnelle.metainfo.xml"
metainfo_check() {
    appstreamcli validate --no-net --pedantic "$metainfo" &&
        grep -q '<launchable type="desktop-id">varnelle.desktop</launchable>' "$metainfo" &&
        grep -q 'Varnelle Key' "$metainfo"
}
check "the software-centre entry is valid (appstreamcli), launches varnelle.desktop, names Varnelle Key" metainfo_check

check "lv2_validate on the installed LV2 bundle reports only JUCE's known errors" \
    "$repo/tests/daw/lv2-validate.sh" "$root/usr/lib/lv2/Varnelle.lv2"
check "lv2_validate on the installed Varnelle Key reports only JUCE's known errors" \
    "$repo/tests/daw/lv2-validate.sh" "$root/usr/lib/lv2/Varnelle Key.lv2"
# lilv, as LV2 hosts read the installed bundles, lists the five factory presets of each.
lv2_presets_check() {
    local uri listed
    for uri in https://www.quorvane.com/plugins/varnelle https://www.quorvane.com/plugins/varnelle-key; do
        listed="$(LV2_PATH="$root/usr/lib/lv2" lv2info "$uri" | grep -c '^[[:space:]]*Factory: ')"
        [ "$listed" = 5 ] || { echo "$uri: $listed factory presets"; return 1; }
    done
}
check "lv2info lists the five factory presets of each LV2 bundle" lv2_presets_check

# JUCE's LV2 wrapper reads an unconnected port through a null pointer, so the key's ports
# must not be optional.
key_ports_check() {
    local ttl="$root/usr/lib/lv2/Varnelle Key.lv2/dsp.ttl"
    test "$(grep -c 'lv2:isSideChain' "$ttl")" = 2 &&
        ! grep -q 'isSideChain' "$root/usr/lib/lv2/Varnelle.lv2/dsp.ttl" &&
        awk 'BEGIN { RS = "\\] , \\[" } /input_group_2/ && /connectionOptional/ { bad = 1 } END { exit bad }' "$ttl"
}
check "Varnelle Key's two key ports are side-chain inputs, not optional; Varnelle has none" key_ports_check

# No lintian error, and no warning beyond the ones README.md lists with their reasons.
allowed_warnings="initial-upload-closes-no-bugs"
lintian_check() {
    local output unexpected
    output="$(lintian --allow-root --fail-on none "$deb" 2>&1)" || return 1
    unexpected="$(grep -E '^[EW]: ' <<<"$output" | grep -vE "^W: varnelle: ($allowed_warnings)( |$)")"
    echo "$output"
    test -z "$unexpected"
}
check "lintian: no error, no warning but the ones README.md lists" lintian_check

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
