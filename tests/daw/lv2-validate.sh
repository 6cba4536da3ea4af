#!/usr/bin/env bash
# Validates Varnelle's (or Varnelle Key's) LV2 bundle with lv2_validate (sord_validate against the installed LV2
# schema data) and fails on every error except the ones that JUCE 7.0.5's TTL generator
# always writes for this plug-in (see "Host compatibility" in README.md). Each known error is
# matched by its whole message, subject, predicate and object, so a new error, or a known
# kind on another subject, fails.
#
# usage: lv2-validate.sh LV2_BUNDLE
set -uo pipefail

if [ "$#" -ne 1 ] || [ ! -f "$1/manifest.ttl" ]; then
    echo "usage: $0 LV2_BUNDLE" >&2
    exit 2
fi
if ! command -v lv2_validate >/dev/null 2>&1 || ! command -v sord_validate >/dev/null 2>&1; then
    echo "error: lv2_validate or sord_validate is missing (Debian packages lv2-dev and sordi)" >&2
    exit 1
fi

bundle="$1"
# The plug-in the manifest declares: "<URI>" on the line before "a lv2:Plugin".
uri="$(awk '/^</ { subject = substr($0, 2, length($0) - 2) } /a lv2:Plugin/ { print subject; exit }' "$bundle/manifest.ttl")"
doap="http://usefulinc.com/ns/doap#"
lv2="http://lv2plug.in/ns/lv2core#"

# One line per known error: message|subject|predicate|object. Blank nodes read "_:".
known="$(
    echo "Subject not in domain <${doap}Project>|$uri|${doap}maintainer|_:"
    echo "Subject not in domain <${doap}Project>|$uri|${doap}release|_:"
    echo "Object not in range <${lv2}ExtensionData>|$uri:UI|${lv2}extensionData|http://lv2plug.in/ns/extensions/ui#noUserResize"
    echo "Object not in range <${lv2}Feature>|$uri:UI|${lv2}optionalFeature|http://lv2plug.in/ns/ext/options#interface"
    for band in 1 2 3 4 5; do
        echo "Subject not in domain <${lv2}Port>|$uri:band${band}_bypass|${lv2}portProperty|${lv2}enumeration"
        echo "Subject not in domain <${lv2}Port>|$uri:band${band}_bypass|${lv2}portProperty|${lv2}toggled"
    done
    echo "Use of undefined property|_:|$uri:Program|0"
    echo "Property <$uri:Program> has no label|_:|$uri:Program|0"
    # The factory presets hold their state in the property JUCE's wrapper restores them from,
    # which no schema defines either (as the program number above).
    if [ -f "$bundle/presets.ttl" ]; then
        sed -n 's/.*:StateString> "\([^"]*\)".*/\1/p' "$bundle/presets.ttl" | while IFS= read -r state; do
            echo "Use of undefined property|_:|$uri:StateString|$state"
            echo "Property <$uri:StateString> has no label|_:|$uri:StateString|$state"
        done
    fi
)"

# lv2_validate splits its arguments at spaces ("Varnelle Key.lv2"): it reads the bundle
# through a link whose name has none.
link_dir="$(mktemp -d)"
trap 'rm -rf "$link_dir"' EXIT
ln -s "$(cd "$bundle" && pwd)" "$link_dir/bundle.lv2"
output="$(lv2_validate "$link_dir/bundle.lv2"/*.ttl 2>&1)"
if grep -q "^Skipping file $link_dir" <<<"$output"; then
    echo "FAIL: lv2_validate skipped files: $(grep '^Skipping file' <<<"$output" | tr '\n' ' ')"
    echo "0 passed, 1 failed"
    exit 1
fi

# sord_validate prints each error as "error: MESSAGE" followed by indented lines holding the
# subject, predicate and object (sometimes after an empty line); join them into one line.
errors="$(awk '
    function flush() { if (msg != "") print msg "|" s[1] "|" s[2] "|" s[3]; msg = ""; n = 0 }
    /^error: / { flush(); msg = substr($0, 8); next }
    msg != "" && /^       / {
        v = $0; sub(/^ +/, "", v)
        if (v ~ /^b[0-9]+$/) v = "_:"
        if (n < 3) s[++n] = v
        next
    }
    msg != "" && /^$/ { next }
    { flush() }
    END { flush() }
' <<<"$output")"

passed=0
failed=0
summary="$(grep -E '^Found [0-9]+ errors? among' <<<"$output")"
if [ -z "$summary" ]; then
    echo "FAIL: lv2_validate ran to the end (no summary line)"
    echo "$output"
    echo "0 passed, 1 failed"
    exit 1
fi
echo "lv2_validate: $summary"

new=0
while IFS= read -r line; do
    [ -z "$line" ] && continue
    if grep -qxF -- "$line" <<<"$known"; then
        echo "known: $line"
    else
        echo "NEW:   $line"
        new=$((new + 1))
    fi
done <<<"$errors"

# Errors that the summary counts but that were not read as one of the blocks above (another
# output format) count as new as well.
counted="$(sed -E 's/^Found ([0-9]+) .*/\1/' <<<"$summary")"
read_count="$(grep -c . <<<"$errors")"
if [ "$counted" -ne "$read_count" ]; then
    echo "NEW:   lv2_validate counted $counted errors, $read_count of them could be read"
    new=$((new + 1))
fi

if [ "$new" -eq 0 ]; then
    echo "PASS: lv2_validate reports only the known errors of JUCE's TTL generator ($read_count)"
    passed=$((passed + 1))
else
    echo "FAIL: lv2_validate reports $new error(s) besides the known ones of JUCE's TTL generator"
    failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
