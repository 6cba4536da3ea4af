#!/bin/bash
# Writes the factory presets compiled into the plug-in: the default state with the settings
# below, each chosen by rendering material that shows its job (the README lists them).
# Usage: resources/presets/make-presets.sh [path to varnelle-render]
set -euo pipefail

render="${1:-build/tools/varnelle-render}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

preset() {
    local file="$here/$1.varnellepreset"
    shift
    local args=()
    for setting in "$@"; do
        args+=(--set "$setting")
    done
    "$render" --save-state "$file" "${args[@]}"
}

# Loud upper-mid resonances down 6 dB; quieter content in the range untouched.
preset TameHarshPeaks band4_freqLow=2500 band4_freqHigh=5500 band4_levelMin=-36 band4_lowerKneeDb=6 \
    band4_gain=-6 band4_attackMs=5 band4_releaseMs=120

# Low-mid build-up down 5 dB; a balanced low-mid below the threshold untouched.
preset ClearLowMidBuildUp band2_freqLow=200 band2_freqHigh=450 band2_levelMin=-36 band2_lowerKneeDb=8 \
    band2_gain=-5 band2_attackMs=20 band2_releaseMs=250

# Quiet high-frequency detail up 6 dB; a slow attack and fast release keep loud highs out.
preset LiftQuietAir band5_freqLow=8000 band5_freqHigh=16000 band5_levelMin=-80 band5_levelMax=-60 \
    band5_upperKneeDb=12 band5_gain=6 band5_attackMs=40 band5_releaseMs=30

# Loud sibilance down 8 dB, caught early by a 1 ms attack and 5 ms lookahead.
preset SoftenSibilance band4_freqLow=5000 band4_freqHigh=9000 band4_levelMin=-54 band4_lowerKneeDb=8 \
    band4_gain=-8 band4_attackMs=1 band4_lookaheadMs=5 band4_releaseMs=60

# The low end evened out: loud bass down 5 dB (band 1), quiet bass up 4 dB (band 2).
preset SteadyLowEnd band1_freqLow=30 band1_freqHigh=110 band1_levelMin=-30 band1_lowerKneeDb=8 \
    band1_gain=-5 band1_attackMs=30 band1_releaseMs=300 \
    band2_freqLow=30 band2_freqHigh=110 band2_levelMin=-70 band2_levelMax=-32 band2_lowerKneeDb=6 \
    band2_upperKneeDb=6 band2_gain=4 band2_attackMs=30 band2_releaseMs=300
