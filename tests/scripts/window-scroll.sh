#!/usr/bin/env bash
# The plot scrolls by moving its pixels on screen and painting only what comes into view: what
# the screen then shows must be the display painted afresh, also for a window partly beyond the
# screen's right edge, whose new columns come from where the screen keeps no pixels.
# usage: window-scroll.sh BUILD_DIR
set -euo pipefail
build_dir="$1"
program="$build_dir/benchmarks/varnelle-window-cpu"

# shellcheck source=window-on-xvfb.sh
source "$(dirname "${BASH_SOURCE[0]}")/window-on-xvfb.sh"

# Each names its arguments: size, where the window's left edge goes (2000: half beyond), and
# "change" for the Change view with an edge of the display focused (its outline over the plot).
for args in "1140x760" "2400x1600" "1140x760 2000" "1140x760 300 change"; do
    # shellcheck disable=SC2086
    "$program" screen 2 $args || fail "the screen differs from the display ($args)"
done
echo "ok"
