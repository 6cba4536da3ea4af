#!/usr/bin/env bash
# Counts the instructions (callgrind's Ir) that one second of stereo 48 kHz audio costs on each
# engine path, in the setting of BenchmarkSetup.h, after the warm-up and without start-up work.
# Then what processBlock alone costs in a second with signal and in a second of silence after 8 s
# of it (the optimised path), and their ratio.
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

declare -A counts blocks
for path in reference optimised silence; do
    valgrind --tool=callgrind --toggle-collect='*processOneSecond*' \
        --callgrind-out-file="$out_dir/$path.out" "$program" "$path" >"$out_dir/$path.log" 2>&1
    counts[$path]="$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$out_dir/$path.out")"
    # processBlock's inclusive count inside the collected second.
    blocks[$path]="$(callgrind_annotate --inclusive=yes "$out_dir/$path.out" 2>/dev/null |
        awk '!found && /VarnelleAudioProcessor::processBlock\(/ { gsub(",", "", $1); print $1; found = 1 }')"
done
for path in reference optimised; do
    printf '%-10s %15s instructions per second of stereo audio\n' "$path" "${counts[$path]}"
done
awk -v r="${counts[reference]}" -v o="${counts[optimised]}" \
    'BEGIN { printf "ratio      %15.2f\n", r / o }'
printf 'processBlock alone, optimised: %15s with signal, %15s in silence\n' \
    "${blocks[optimised]}" "${blocks[silence]}"
awk -v s="${blocks[optimised]}" -v q="${blocks[silence]}" \
    'BEGIN { printf "ratio      %15.2f\n", s / q }'
