#!/usr/bin/env bash
# Runs Varnelle's VST3 and LV2 bundles in a real host: Ardour 7, headless (ardour7-lua with the
# dummy backend). A stereo track carries Ardour's own white-noise generator; the session is
# exported without Varnelle, with the VST3 at its defaults, with the VST3's band 3 gain at
# -12 dB and with the LV2 at its defaults, and the exports are measured with sox.
#
# usage: ardour-check.sh VST3_BUNDLE LV2_BUNDLE
#
# Prints one line per check and "N passed, N failed"; exits 1 when a check fails. Everything
# Ardour writes (home, configuration, plug-in caches, session, exports) goes to a scratch
# folder that is removed on exit.
set -uo pipefail

if [ "$#" -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
    echo "usage: $0 VST3_BUNDLE LV2_BUNDLE" >&2
    exit 2
fi

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/ardour-common.sh"
rate=48000
seconds=10
ardour_scratch varnelle-ardour "$1" "$2"

# --- The VST3 as Ardour's scanner indexes it ------------------------------------------------
ardour_scan_vst3 Varnelle

# --- The sessions ---------------------------------------------------------------------------
export VARNELLE_VST3_UID="$vst3_uid" VARNELLE_LV2_URI="https://www.quorvane.com/plugins/varnelle"
export VARNELLE_SECONDS="$seconds" VARNELLE_RATE="$rate"
ardour_run_sessions "$here/varnelle-session.lua" 8 dry vst3-unity vst3-band3-cut lv2-unity

session_rate="$(info dry session-rate)"
loaded_paths="$(info vst3-unity vst3-paths)"
case "$loaded_paths" in
    "$vst3_copy"/*" "*) ok=0 ;; # more than one
    "$vst3_copy"/*) ok=1 ;;
    *) ok=0 ;;
esac
check "Ardour loads the VST3 under test, and only that one" "$ok" \
    "Varnelle VST3 entries: ${loaded_paths:-none}"

for variant in vst3-unity lv2-unity; do
    io="$(info "$variant" io)"
    latency="$(info "$variant" latency)"
    ok=0
    [ "$io" = "2 2" ] && [ "$latency" = 2048 ] && ok=1
    check "${variant%-unity} in a stereo track: 2 in, 2 out, 2048 samples latency" "$ok" \
        "io ${io:-?}, latency ${latency:-?}"
done

band3_gain="$(info vst3-band3-cut band3_gain)"
check "VST3 parameter 26 (band3_gain) holds -12 dB" \
    "$(awk -v v="${band3_gain:-nan}" 'BEGIN { print (v * 84 - 60 > -12.05 && v * 84 - 60 < -11.95) ? 1 : 0 }')" \
    "normalised ${band3_gain:-?}"

# --- Measurements ---------------------------------------------------------------------------
# RMS over all channels of a settled window: the first second (parameter smoothing, the start
# of the export) and the last second are left out. Optional sox effects go before the trim.
rms() { # rms FILE [sox effects...]
    local file="$scratch/export/$1.wav"
    shift
    sox "$file" -n "$@" trim 1 $((seconds - 2)) stat 2>&1 | awk '/^RMS +amplitude/ { print $3 }'
}
db_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0 && b > 0) printf "%.3f", 20 * log(a / b) / log(10); else print "nan" }'; }

lengths_ok=1
lengths=""
for name in dry vst3-unity vst3-band3-cut lv2-unity; do
    file="$scratch/export/$name.wav"
    n="$([ -f "$file" ] && soxi -s "$file" 2>/dev/null || echo 0)"
    r="$([ -f "$file" ] && soxi -r "$file" 2>/dev/null || echo 0)"
    c="$([ -f "$file" ] && soxi -c "$file" 2>/dev/null || echo 0)"
    lengths="$lengths $name=${n}x${c}@${r}"
    [ "$n" = $((seconds * rate)) ] && [ "$r" = "$rate" ] && [ "$c" = 2 ] || lengths_ok=0
done
check "exports: ${seconds} s stereo WAVs at ${rate} Hz" "$lengths_ok" "${lengths# }"

dry="$(rms dry)"
# Uniform white noise at -10 dBFS peak has an RMS of 10^(-10/20)/sqrt(3): -14.77 dBFS.
dry_dbfs="$(awk -v a="${dry:-0}" 'BEGIN { if (a > 0) printf "%.2f", 20 * log(a) / log(10); else print "nan" }')"
check "dry export carries the noise at -14.77 dBFS RMS" "$(within "$dry_dbfs" -14.77 0.5)" "$dry_dbfs dBFS"

unity_vst3="$(db_ratio "$(rms vst3-unity)" "$dry")"
check "(a) VST3 at its defaults leaves the RMS unchanged" "$(within "$unity_vst3" 0 0.1)" \
    "$unity_vst3 dB, allowed +-0.1"

# Expected broadband change for white noise: its power is spread evenly over the 2048 bins of
# the plug-in's FFT, and each bin's power is scaled by the square of its gain
# 1 + w * (10^(-12/20) - 1), where w is band 3's frequency weight: 1 from 600 to 2500 Hz,
# falling linearly to 0 over 150 Hz outside each edge.
expected="$(awk -v sr="${session_rate:-$rate}" -v gdb=-12 -v lo=600 -v hi=2500 -v ramp=150 'BEGIN {
    g = exp(gdb / 20 * log(10)); sum = 0
    for (i = 0; i <= 1024; i++) {
        f = sr * i / 2048
        rl = (f - (lo - ramp)) / ramp; rl = rl < 0 ? 0 : (rl > 1 ? 1 : rl)
        rh = (ramp + hi - f) / ramp; rh = rh < 0 ? 0 : (rh > 1 ? 1 : rh)
        w = rl < rh ? rl : rh
        gain = 1 + w * (g - 1)
        sum += (i == 0 || i == 1024 ? 1 : 2) * gain * gain
    }
    printf "%.3f", 10 * log(sum / 2048) / log(10) }')"
cut_vst3="$(db_ratio "$(rms vst3-band3-cut)" "$dry")"
check "(b) VST3 band 3 at -12 dB changes white noise by ${expected} dB" "$(within "$cut_vst3" "$expected" 0.3)" \
    "$cut_vst3 dB, allowed ${expected} +-0.3"

inband="$(db_ratio "$(rms vst3-band3-cut sinc 800-2300)" "$(rms dry sinc 800-2300)")"
check "(b) VST3 band 3 at -12 dB: 800-2300 Hz lowered by 12 dB" "$(within "$inband" -12 0.3)" \
    "$inband dB, allowed -12 +-0.3"
above="$(db_ratio "$(rms vst3-band3-cut sinc 3000)" "$(rms dry sinc 3000)")"
check "(b) VST3 band 3 at -12 dB: above 3 kHz unchanged" "$(within "$above" 0 0.1)" \
    "$above dB, allowed +-0.1"

unity_lv2="$(db_ratio "$(rms lv2-unity)" "$dry")"
check "(c) LV2 at its defaults leaves the RMS unchanged" "$(within "$unity_lv2" 0 0.1)" \
    "$unity_lv2 dB, allowed +-0.1"

finish
