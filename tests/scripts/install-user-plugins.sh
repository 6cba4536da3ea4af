#!/usr/bin/env bash
# scripts/run's installation for the user: the build's VST3 and LV2 go to the home folder only
# while no system-wide copy exists, and a system-wide copy makes it take its own copies away.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
artefacts="$scratch/artefacts"
mkdir -p "$artefacts/VST3/Varnelle.vst3/Contents/x86_64-linux" "$artefacts/LV2/Varnelle.lv2"
echo new > "$artefacts/VST3/Varnelle.vst3/Contents/x86_64-linux/Varnelle.so"
echo new > "$artefacts/LV2/Varnelle.lv2/libVarnelle.so"
key_artefacts="$scratch/key-artefacts" # Varnelle Key's, built into a folder of its own
mkdir -p "$key_artefacts/VST3/Varnelle Key.vst3" "$key_artefacts/LV2/Varnelle Key.lv2"
export VARNELLE_SYSTEM_ROOT="$scratch/system"
home="$scratch/home"
failures=0

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# No system-wide copy: both bundles are installed, replacing older ones.
mkdir -p "$home/.lv2/Varnelle.lv2" && echo old > "$home/.lv2/Varnelle.lv2/libVarnelle.so"
install_user_plugins "$artefacts" "$home" > "$scratch/out1"
install_user_plugins "$key_artefacts" "$home" >> "$scratch/out1"
[ "$(cat "$home/.vst3/Varnelle.vst3/Contents/x86_64-linux/Varnelle.so")" = new ] || fail "VST3 not installed"
[ "$(cat "$home/.lv2/Varnelle.lv2/libVarnelle.so")" = new ] || fail "LV2 not replaced"
[ -d "$home/.vst3/Varnelle Key.vst3" ] && [ -d "$home/.lv2/Varnelle Key.lv2" ] || fail "Varnelle Key not installed"

# The package's copies appear: nothing is installed, the earlier copies go, and the output says
# how to switch.
for system_bundle in usr/lib/lv2/Varnelle.lv2 usr/lib/vst3/Varnelle.vst3; do
    rm -rf "$VARNELLE_SYSTEM_ROOT"
    mkdir -p "$VARNELLE_SYSTEM_ROOT/$system_bundle"
    install_user_plugins "$artefacts" "$home" > "$scratch/out2"
    [ ! -e "$home/.vst3/Varnelle.vst3" ] || fail "$system_bundle: a home VST3 is left beside it"
    [ ! -e "$home/.lv2/Varnelle.lv2" ] || fail "$system_bundle: a home LV2 is left beside it"
    [ ! -e "$home/.lv2/Varnelle Key.lv2" ] || fail "$system_bundle: a home Varnelle Key is left beside it"
    grep -q "$VARNELLE_SYSTEM_ROOT/$system_bundle" "$scratch/out2" || fail "$system_bundle is not named"
    grep -q "apt remove varnelle" "$scratch/out2" || fail "no word on how to switch"

    # Run again: still nothing installed.
    install_user_plugins "$artefacts" "$home" > /dev/null
    [ ! -e "$home/.lv2/Varnelle.lv2" ] && [ ! -e "$home/.vst3/Varnelle.vst3" ] ||
        fail "$system_bundle: a second run installed a copy"
    install_bundle "$artefacts/LV2/Varnelle.lv2" "$home/.lv2" > /dev/null # as an old run left it
done

if [ "$failures" -gt 0 ]; then
    echo "0 passed, $failures failed"
    exit 1
fi
echo "install-user-plugins: 1 passed, 0 failed"
