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
vst3_bundle="$(cd "$1" && pwd)"
lv2_bundle="$(cd "$2" && pwd)"
lv2_uri="https://www.quorvane.com/plugins/varnelle"
scanner=/usr/lib/ardour7/ardour-vst3-scanner
rate=48000
seconds=10

for tool in ardour7-lua sox soxi "$scanner"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "error: $tool is missing (Debian packages ardour and sox)" >&2
        exit 1
    fi
done

scratch="$(mktemp -d "${TMPDIR:-/tmp}/varnelle-ardour.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

export HOME="$scratch/home"
export XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache"
export XDG_DATA_HOME="$scratch/data" XDG_STATE_HOME="$scratch/state"
export XDG_RUNTIME_DIR="$scratch/runtime"
export LD_LIBRARY_PATH="/usr/lib/ardour7${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" \
    "$scratch/vst3" "$scratch/export"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Ardour trusts its VST3 cache only when the cache file is newer than the module, at a
# resolution of one second; a copy dated back a little keeps a fresh build from tying with it.
cp -R "$vst3_bundle" "$scratch/vst3/"
vst3_copy="$scratch/vst3/$(basename "$vst3_bundle")"
find "$vst3_copy" -exec touch -d "@$(($(date +%s) - 10))" {} +
export VST3_PATH="$scratch/vst3"
LV2_PATH="$(dirname "$lv2_bundle")"
export LV2_PATH

passed=0
failed=0
check() { # check NAME OK DETAILS
    if [ "$2" = 1 ]; then
        echo "PASS: $1 ($3)"
        passed=$((passed + 1))
    else
        echo "FAIL: $1 ($3)"
        failed=$((failed + 1))
    fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

# --- The VST3 as Ardour's scanner indexes it ------------------------------------------------
"$scanner" -q -f "$vst3_copy" >"$scratch/scan.log" 2>&1
cache_entry="$(grep -h -o '<VST3Info [^>]*>' "$XDG_CACHE_HOME"/ardour7/vst/*.v3i 2>/dev/null |
    grep 'name="Varnelle"' | grep 'vendor="Quorvane Audio"' | head -n 1)"
vst3_uid="$(sed -n 's/.* uid="\([0-9A-F]\{32\}\)".*/\1/p' <<<"$cache_entry")"
if [ -z "$vst3_uid" ]; then
    check "Ardour's scanner indexes the VST3" 0 "no 'Varnelle' by 'Quorvane Audio' in its cache"
    cat "$scratch/scan.log"
    finish
fi
check "Ardour's scanner indexes the VST3" 1 "uid $vst3_uid"

# --- The sessions ---------------------------------------------------------------------------
# One ardour7-lua run per export. Ardour 7.3's exporter crashes now and then while it tears
# down its export graph (heap corruption; it happens just as often without any plug-in in the
# track, about one run in five here), so a run that dies from a signal is repeated, up to 8
# times. The crashes are counted per session in the output. A run that reports an error of
# the session script, or times out, is not repeated.
variants="dry vst3-unity vst3-band3-cut lv2-unity"
crashes=0
crash_list=""
start=$(date +%s.%N)
for variant in $variants; do
    log="$scratch/$variant.log"
    for attempt in 1 2 3 4 5 6 7 8; do
        rm -rf "$scratch/session-$variant" "$scratch/export/$variant.wav"
        # The subshell (kept from exec'ing the command by the trailing exit) takes bash's own
        # "Aborted" notice, whose stderr goes nowhere.
        (VARNELLE_VARIANT="$variant" VARNELLE_SESSION_DIR="$scratch/session-$variant" \
            VARNELLE_EXPORT_DIR="$scratch/export" VARNELLE_VST3_UID="$vst3_uid" \
            VARNELLE_LV2_URI="$lv2_uri" VARNELLE_SECONDS="$seconds" VARNELLE_RATE="$rate" \
            timeout 120 ardour7-lua "$here/varnelle-session.lua" </dev/null >"$log" 2>&1
            exit $?) 2>/dev/null
        status=$?
        if [ "$status" -eq 0 ] && grep -qx 'info: done' "$log"; then
            break
        fi
        if [ "$status" -lt 128 ] || [ "$status" -eq 124 ] || grep -q '^varnelle-session error: ' "$log"; then
            break
        fi
        crashes=$((crashes + 1))
        crash_list="$crash_list $variant"
    done
    if [ "$status" -ne 0 ] || ! grep -qx 'info: done' "$log"; then
        check "Ardour builds and exports the session '$variant'" 0 \
            "ardour7-lua exit status $status, attempt $attempt"
        grep -v '^\[ERROR\]: Ignored format' "$log" | tail -n 30
        finish
    fi
done
elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
check "Ardour builds and exports the 4 sessions" 1 \
    "${elapsed} s; Ardour crashes repeated: ${crashes}${crash_list:+ (${crash_list# })}"

info() { # info VARIANT KEY
    sed -n "s/^info: $2 //p" "$scratch/$1.log" | head -n 1
}

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
within() { awk -v v="$1" -v e="$2" -v t="$3" 'BEGIN { d = v - e; print (v != "nan" && d <= t && d >= -t) ? 1 : 0 }'; }

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
