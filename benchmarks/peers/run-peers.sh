#!/usr/bin/env bash
# Installs the peers (Debian's lsp-plugins-lv2 and zam-plugins), builds the peer benchmark with
# the bundles, and times them side by side. Not part of CI.
#
#   benchmarks/peers/run-peers.sh [SECONDS_PER_REPETITION] [ROUNDS]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"

ensure_packages "${VARNELLE_PACKAGES[@]}" libbenchmark-dev lsp-plugins-lv2 zam-plugins

build_dir="$VARNELLE_ROOT/build"
# The same settings as scripts/test, so that both share one build folder.
configure_and_build "$build_dir" -DCMAKE_BUILD_TYPE=Release -DVARNELLE_MAKER_SITE=http://127.0.0.1:39217 \
    -DVARNELLE_BUILD_TESTS=ON -DVARNELLE_BUILD_TOOLS=ON -DVARNELLE_BUILD_BENCHMARKS=ON \
    -DVARNELLE_BUILD_HOSTCHECK=ON -- varnelle-peer-bench Varnelle_VST3 Varnelle_LV2

# JUCE's LV2 host scans ~/.lv2 first and keeps the first bundle it meets for a URI: an installed
# Varnelle there would stand in for the one just built.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
HOME="$scratch" "$build_dir/benchmarks/varnelle-peer-bench" \
    --vst3 "$build_dir/Varnelle_artefacts/Release/VST3/Varnelle.vst3" \
    --lv2 "$build_dir/Varnelle_artefacts/Release/LV2/Varnelle.lv2" \
    --seconds "${1:-10}" --rounds "${2:-5}"
