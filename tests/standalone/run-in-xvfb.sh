#!/usr/bin/env bash
# Starts the Standalone app on a virtual X display and checks that its window opens and the
# app keeps running; saves a screenshot as an artifact.
# usage: run-in-xvfb.sh STANDALONE_BINARY SCREENSHOT.png
set -euo pipefail

app="$1"
screenshot="$2"
if [ -z "${VARNELLE_IN_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (package xvfb)"; exit 1; }
    export VARNELLE_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1400x1000x24" "$0" "$@"
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# The app keeps its settings and presets under HOME; keep the user's own untouched.
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config"
mkdir -p "$HOME"

"$app" >"$scratch/stdout.log" 2>"$scratch/stderr.log" &
pid=$!

found=""
for _ in $(seq 1 60); do
    sleep 0.5
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "the app exited early"; cat "$scratch/stderr.log"; exit 1
    fi
    if xwininfo -root -tree 2>/dev/null | grep -q '"Varnelle"'; then
        found=yes
        break
    fi
done
[ -n "$found" ] || { echo "no Varnelle window appeared"; cat "$scratch/stderr.log"; kill "$pid"; exit 1; }

sleep 2 # let the display timer draw a few frames
import -window root "$screenshot"
geometry="$(xwininfo -root -tree | grep '"Varnelle"' | head -n 1)"
echo "window: $geometry"

kill -0 "$pid" 2>/dev/null || { echo "the app died after opening its window"; exit 1; }
kill "$pid"
wait "$pid" 2>/dev/null || true

if grep -i -E 'error|assert|segmentation' "$scratch/stderr.log"; then
    echo "the app reported errors"; exit 1
fi
echo "standalone window opened; screenshot in $screenshot"
