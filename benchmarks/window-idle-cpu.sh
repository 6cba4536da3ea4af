#!/usr/bin/env bash
# CPU time the Standalone app uses with its window open and no audio arriving, over 20 s on a
# virtual display: user + system time of the process, as a share of one core.
# usage: benchmarks/window-idle-cpu.sh [STANDALONE_BINARY] [SECONDS]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
app="${1:-$root/build/Varnelle_artefacts/Release/Standalone/Varnelle}"
seconds="${2:-20}"
[ -x "$app" ] || { echo "error: $app not found; build Varnelle_Standalone first" >&2; exit 1; }

if [ -z "${VARNELLE_IN_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "error: xvfb-run is missing (package xvfb)" >&2; exit 1; }
    export VARNELLE_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1400x1000x24" "$0" "$app" "$seconds"
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config"
mkdir -p "$HOME"

"$app" >"$scratch/stdout.log" 2>&1 &
pid=$!
for _ in $(seq 1 60); do
    sleep 0.5
    kill -0 "$pid" 2>/dev/null || { echo "error: the app exited early" >&2; exit 1; }
    xwininfo -root -tree 2>/dev/null | grep -q '"Varnelle"' && break
done
sleep 3 # past start-up and the first paints

ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
hz="$(getconf CLK_TCK)"
start="$(ticks)"
sleep "$seconds"
end="$(ticks)"
kill "$pid"
wait "$pid" 2>/dev/null || true

awk -v t=$((end - start)) -v hz="$hz" -v s="$seconds" \
    'BEGIN { printf "window open, no audio: %.2f s of CPU in %d s = %.1f%% of a core\n", t / hz, s, 100 * t / hz / s }'
