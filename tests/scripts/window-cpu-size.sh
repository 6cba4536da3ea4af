#!/usr/bin/env bash
# varnelle-window-cpu measures the window at the size it is given and says which: a figure
# printed for another size than the one asked for would compare the wrong windows.
# usage: window-cpu-size.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build_dir="$1"
program="$build_dir/benchmarks/varnelle-window-cpu"

# shellcheck source=window-on-xvfb.sh
source "$(dirname "${BASH_SOURCE[0]}")/window-on-xvfb.sh"

for size in 12x 0x700 2400x1600x3; do
    if "$program" audio 1 "$size" >/dev/null 2>&1; then fail "accepted the size '$size'"; fi
done
# Outside the editor's resize limits (900x620 to 2400x1600).
err="$("$program" audio 1 2600x1600 2>&1 >/dev/null || true)"
grep -q "not 2600x1600" <<<"$err" || fail "took a size beyond the resize limits: $err"

out="$("$root/benchmarks/window-cpu.sh" "$build_dir" 1 "" 2400x1600)"
echo "$out"
[ "$(grep -c '^2400x1600, window open, ' <<<"$out")" = 2 ] || fail "the figures do not name 2400x1600"
out="$("$root/benchmarks/window-cpu.sh" "$build_dir" 1)"
[ "$(grep -c '^1140x760, window open, ' <<<"$out")" = 2 ] || fail "the default size is not 1140x760"
echo "ok"
