#!/usr/bin/env bash
# The factory presets in a real host's own preset list: Ardour 7, headless, with Varnelle's
# LV2 bundle (its presets.ttl) and VST3 bundle (the .vstpreset files where VST3 hosts look, here
# the scratch home's ~/.vst3/presets). For each format, Ardour must list the five factory
# presets ("Factory: Tame Harsh Peaks" in LV2; the VST3 files are named "Factory - Tame Harsh
# Peaks", as a file name cannot hold the colon everywhere), and the LV2's must each load.
# (Headless Ardour cannot load a VST3 preset, nor read back the values an LV2 preset gave: see
# the session script. The host checker loads both kinds through JUCE's hosts and compares
# every value with the built-in preset's.)
#
# usage: ardour-presets-check.sh VST3_BUNDLE LV2_BUNDLE VST3_PRESETS_FOLDER VARNELLE_PRESETS
# (varnelle-presets gives the factory presets' labels.)
set -uo pipefail

if [ "$#" -ne 4 ] || [ ! -d "$1" ] || [ ! -d "$2" ] || [ ! -d "$3" ] || [ ! -x "$4" ]; then
    echo "usage: $0 VST3_BUNDLE LV2_BUNDLE VST3_PRESETS_FOLDER VARNELLE_PRESETS" >&2
    exit 2
fi

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/ardour-common.sh"
ardour_scratch varnelle-ardour-presets "$1" "$2"
mkdir -p "$HOME/.vst3/presets/Quorvane Audio"
cp -R "$3" "$HOME/.vst3/presets/Quorvane Audio/Varnelle"
"$4" values >"$scratch/expected.txt" || { echo "FAIL: varnelle-presets values"; exit 1; }

ardour_scan_vst3 Varnelle
export VARNELLE_VST3_UID="$vst3_uid" VARNELLE_LV2_URI="https://www.quorvane.com/plugins/varnelle"
ardour_run_sessions "$here/varnelle-presets-session.lua" 3 lv2 vst3

labels="$(cut -f 1 "$scratch/expected.txt" | sort)"
for variant in lv2 vst3; do
    listed="$(sed -n 's/^info: preset Factory\(:\| -\) \(.*\)$/Factory: \2/p' "$scratch/$variant.log" | sort)"
    ok=0
    [ "$listed" = "$labels" ] && ok=1
    check "$variant: Ardour lists the five factory presets" "$ok" "$(echo $listed | tr '\n' ' ')"
done
loaded="$(grep -c '^info: loaded Factory: ' "$scratch/lv2.log")"
check "lv2: Ardour loads each of them" "$([ "$loaded" = 5 ] && echo 1 || echo 0)" "$loaded loaded"

finish
