#!/usr/bin/env bash
# Counts the instructions (callgrind's Ir) that one second of stereo 48 kHz audio costs on each
# engine path, in the setting of BenchmarkSetup.h, after the warm-up and without start-up work.
#
# Usage: benchmarks/callgrind-one-second.sh [BUILD_DIR]   (default: build-engine)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$root/build-engine}"
program="$build_dir/benchmarks/varnelle_one_second"
if [ ! -x "$program" ]; then
    echo "error: $program not found; build the target varnelle_one_second first" >&2
    exit 1
fi
command -v valgrind >/dev/null || { echo "error: valgrind is not installed" >&2; exit 1; }

out_dir="$(mktemp -d)"
trap 'rm -rf "$out_dir"' EXIT

declare -A counts
for path in reference optimised; do
    valgrind --tool=callgrind --toggle-collect='*processOneSecond*' \
        --callgrind-out-file="$out_dir/$path.out" "$program" "$path" >"$out_dir/$path.log" 2>&1
    counts[$path]="$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$out_dir/$path.out")"
    printf '%-10s %15s instructions per second of stereo audio\n' "$path" "${counts[$path]}"
done
awk -v r="${counts[reference]}" -v o="${counts[optimised]}" \
    'BEGIN { printf "ratio      %15.2f\n", r / o }'
