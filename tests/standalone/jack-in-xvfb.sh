#!/usr/bin/env bash
# The Standalone app on JACK: a JACK server of its own (the dummy backend, no sound card), the
# app started on a virtual display with settings that set band 3 to -12 dB and choose no audio
# device. It must pick JACK, show up as a client with two inputs and two outputs, and give back
# a signal fed through its ports processed and 2048 samples late (varnelle-jack-check). Stops
# the app and the server it started, whatever happens.
# usage: jack-in-xvfb.sh STANDALONE_BINARY JACK_CHECK_BINARY
set -uo pipefail

app="$1"
checker="$2"
if [ -z "${VARNELLE_IN_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (package xvfb)"; exit 1; }
    export VARNELLE_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1400x1000x24" "$0" "$@"
fi
for tool in jackd jack_lsp; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (package jackd2)"; exit 1; }
done

scratch="$(mktemp -d)"
server_pid="" app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config"
mkdir -p "$HOME/.config"
# A server name of its own, so that no other JACK server on the machine takes part.
export JACK_DEFAULT_SERVER="varnelle-test-$$"

fail() {
    echo "FAIL: $*"
    echo "--- app stderr"; tail -n 20 "$scratch/app.log"
    echo "--- jackd"; tail -n 20 "$scratch/jackd.log"
    exit 1
}

# Periods of 2048 samples leave the test's clients 43 ms a cycle on a busy machine.
jackd --no-realtime -d dummy -r 48000 -p 2048 >"$scratch/jackd.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
    jack_lsp >/dev/null 2>&1 && break
    sleep 0.1
done
jack_lsp >/dev/null 2>&1 || fail "the JACK server did not start"

"$checker" settings "$HOME/.config/Varnelle.settings" band3_gain=-12 || fail "cannot write the settings"
"$app" >"$scratch/app.log" 2>&1 &
app_pid=$!
for _ in $(seq 300); do
    [ "$(jack_lsp 2>/dev/null | grep -c '^Varnelle:')" = 4 ] && break
    kill -0 "$app_pid" 2>/dev/null || fail "the app exited"
    sleep 0.1
done
ports="$(jack_lsp 2>/dev/null | grep '^Varnelle:' | sort | tr '\n' ' ')"
[ "$ports" = "Varnelle:in_1 Varnelle:in_2 Varnelle:out_1 Varnelle:out_2 " ] ||
    fail "the app is not a JACK client with two inputs and two outputs (ports: ${ports:-none})"
echo "PASS: the app chose JACK: $ports"

# Before the signal the app hears silence long enough for its band gains to be at rest again,
# as the check renders it. A run with an xrun (the server reported a late cycle) is repeated.
for attempt in 1 2 3; do
    sleep 6
    "$checker" run Varnelle "$HOME/.config/Varnelle.settings"
    status=$?
    [ "$status" -eq 3 ] || break
done
[ "$status" -eq 0 ] || fail "the signal through the app (attempt $attempt)"
echo "PASS: the signal through the app's JACK ports comes back processed, 2048 samples late"
grep -q . "$scratch/app.log" && { echo "--- app output"; cat "$scratch/app.log"; }
exit 0
