#!/usr/bin/env bash
# CPU time of the plug-in window on a virtual display over SECONDS (default 20), with no audio
# and following audio fed at a 48 kHz device's pace: user + system time of the process, as a
# share of one core. Given a second program (a build of varnelle-window-cpu from other sources),
# runs the two in turn, so that a before/after comparison shares the machine's state. SIZE is
# the window's, WxH (default 1140x760, at most 2400x1600).
# usage: benchmarks/window-cpu.sh [BUILD_DIR] [SECONDS] [OTHER_PROGRAM] [SIZE]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$root/build}"
seconds="${2:-20}"
other="${3:-}"
size="${4:-1140x760}"
program="$build_dir/benchmarks/varnelle-window-cpu"
[ -x "$program" ] || { echo "error: $program not found; build varnelle-window-cpu first" >&2; exit 1; }

if [ -z "${VARNELLE_IN_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "error: xvfb-run is missing (package xvfb)" >&2; exit 1; }
    export VARNELLE_IN_XVFB=1
    # The screen holds the largest window the editor allows, with its title bar.
    exec xvfb-run -a -s "-screen 0 2560x1700x24" "$0" "$build_dir" "$seconds" "$other" "$size"
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch" XDG_CONFIG_HOME="$scratch/.config"

for mode in idle audio; do
    if [ -n "$other" ]; then
        printf 'other: '
        "$other" "$mode" "$seconds" "$size"
        printf 'this:  '
    fi
    "$program" "$mode" "$seconds" "$size"
done
