# Shared by the headless Ardour tests (ardour-check.sh, ardour-key-check.sh): the scratch
# environment, the VST3 scan, the check output and the session runs.
# shellcheck shell=bash

ardour_scanner=/usr/lib/ardour7/ardour-vst3-scanner
# Where the session scripts find session-common.lua.
VARNELLE_DAW_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export VARNELLE_DAW_DIR
for tool in ardour7-lua sox soxi "$ardour_scanner"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "error: $tool is missing (Debian packages ardour and sox)" >&2
        exit 1
    fi
done

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

# ardour_scratch PREFIX VST3_BUNDLE LV2_BUNDLE: everything Ardour writes (home, configuration,
# plug-in caches, sessions, exports) goes to $scratch, removed on exit; Ardour finds the VST3
# as $vst3_copy in a folder of its own, and the LV2 bundle's folder.
ardour_scratch() {
    local vst3 lv2
    vst3="$(cd "$2" && pwd)" lv2="$(cd "$3" && pwd)"
    scratch="$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")"
    trap 'rm -rf "$scratch"' EXIT
    export HOME="$scratch/home"
    export XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache"
    export XDG_DATA_HOME="$scratch/data" XDG_STATE_HOME="$scratch/state"
    export XDG_RUNTIME_DIR="$scratch/runtime"
    export LD_LIBRARY_PATH="/usr/lib/ardour7${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
    mkdir -p "$HOME" "$XDG_CONFIG_HOME/ardour7/scripts" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" \
        "$XDG_STATE_HOME" "$scratch/vst3" "$scratch/export"
    mkdir -m 700 "$XDG_RUNTIME_DIR"

    # Ardour trusts its VST3 cache only when the cache file is newer than the module, at a
    # resolution of one second; a copy dated back a little keeps a fresh build from tying with it.
    cp -R "$vst3" "$scratch/vst3/"
    vst3_copy="$scratch/vst3/$(basename "$vst3")"
    find "$vst3_copy" -exec touch -d "@$(($(date +%s) - 10))" {} +
    export VST3_PATH="$scratch/vst3"
    LV2_PATH="$(dirname "$lv2")"
    export LV2_PATH
}

# ardour_scan_vst3 NAME: $vst3_uid, the class ID Ardour's scanner cached for the plug-in NAME
# by Quorvane Audio; a failed check and the end of the run when there is none.
ardour_scan_vst3() {
    "$ardour_scanner" -q -f "$vst3_copy" >"$scratch/scan.log" 2>&1
    vst3_uid="$(grep -h -o '<VST3Info [^>]*>' "$XDG_CACHE_HOME"/ardour7/vst/*.v3i 2>/dev/null |
        grep "name=\"$1\"" | grep 'vendor="Quorvane Audio"' | head -n 1 |
        sed -n 's/.* uid="\([0-9A-F]\{32\}\)".*/\1/p')"
    if [ -z "$vst3_uid" ]; then
        check "Ardour's scanner indexes the VST3" 0 "no '$1' by 'Quorvane Audio' in its cache"
        cat "$scratch/scan.log"
        finish
    fi
    check "Ardour's scanner indexes the VST3" 1 "uid $vst3_uid"
}

# ardour_run_sessions SCRIPT ATTEMPTS VARIANT...: one ardour7-lua run of SCRIPT per variant
# (VARNELLE_VARIANT; the caller exports the rest of the script's settings), each writing
# $scratch/VARIANT.log, its session in $scratch/session-VARIANT and its export in
# $scratch/export. Ardour 7.3's exporter crashes now and then while it tears down its export
# graph (heap corruption, with or without a plug-in in the track), so a run that dies from a
# signal is repeated, up to ATTEMPTS times; a run that reports an error of the session script,
# or times out, is not. One check for them all, with the crashes counted.
ardour_run_sessions() {
    local script="$1" attempts="$2" variant log status attempt crashes=0 crash_list="" start elapsed
    shift 2
    start=$(date +%s.%N)
    for variant in "$@"; do
        log="$scratch/$variant.log"
        for attempt in $(seq "$attempts"); do
            rm -rf "$scratch/session-$variant" "$scratch/export/$variant.wav"
            # The subshell (kept from exec'ing the command by the trailing exit) takes bash's
            # own "Aborted" notice, whose stderr goes nowhere.
            (VARNELLE_VARIANT="$variant" VARNELLE_SESSION_DIR="$scratch/session-$variant" \
                VARNELLE_EXPORT_DIR="$scratch/export" \
                timeout 120 ardour7-lua "$script" </dev/null >"$log" 2>&1
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
    check "Ardour builds and exports the $# sessions" 1 \
        "${elapsed} s; Ardour crashes repeated: ${crashes}${crash_list:+ (${crash_list# })}"
}

info() { sed -n "s/^info: $2 //p" "$scratch/$1.log" | head -n 1; } # info VARIANT KEY
within() { awk -v v="$1" -v e="$2" -v t="$3" 'BEGIN { d = v - e; print (v != "nan" && d <= t && d >= -t) ? 1 : 0 }'; }
