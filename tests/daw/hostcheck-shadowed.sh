#!/usr/bin/env bash
# The host checker checks only the bundle it is given: with another copy of Varnelle where
# hosts look first (here the run's home folder; the Debian package's /usr/lib/lv2 is the same
# case), it must fail, name the copy and stop before opening any editor of it.
# Usage: hostcheck-shadowed.sh HOSTCHECK LV2_BUNDLE RENDERER
set -uo pipefail
hostcheck="$1" bundle="$2" renderer="$3"

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/.lv2"
cp -R "$bundle" "$home/.lv2/Varnelle.lv2"

# No slow update server: the checks that run alongside this one may hold its port.
"$hostcheck" --lv2 "$bundle" --renderer "$renderer" --home "$home" --slow-server-port 0 > "$home/out.txt" 2>&1
status=$?
cat "$home/out.txt"

failures=0
[ "$status" -eq 1 ] || { echo "FAILED: exit status $status, expected 1"; failures=$((failures + 1)); }
grep -q "$home/.lv2/Varnelle.lv2 also declares" "$home/out.txt" ||
    { echo "FAILED: the shadowing copy is not named"; failures=$((failures + 1)); }
grep -q "the remaining LV2 checks are not run" "$home/out.txt" ||
    { echo "FAILED: the checks did not stop"; failures=$((failures + 1)); }
if grep -q "editor opened" "$home/out.txt"; then
    echo "FAILED: an editor was opened although another copy takes part"
    failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "hostcheck-shadowed: 1 passed, 0 failed" && exit 0
exit 1
