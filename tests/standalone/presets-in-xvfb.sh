#!/usr/bin/env bash
# Drives the preset controls of the Standalone app on a virtual X display, the way a person
# would: picks the second preset from the preset box, adds a preset behind the app's back and
# uses "Refresh List", then "Save Preset..." (which overwrites the selected preset without a
# dialog). Then the keys of the window: D shows "Listening to the Change" in the top bar and
# takes it away again, Ctrl+Z undoes the preset load and Ctrl+Y redoes it (each checked by
# saving again). Checks that the app keeps running, that the refreshed list shows the new
# preset and that the saved file holds exactly the state the window has. Screenshots of every
# step go to ARTIFACT_DIR.
#
# usage: presets-in-xvfb.sh STANDALONE_BINARY ARTIFACT_DIR [VARNELLE_RENDER]
# VARNELLE_RENDER defaults to tools/varnelle-render of the Standalone's build folder.
# Exit status: 0 passed, 1 failed, 77 a tool this test needs is missing.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 STANDALONE_BINARY ARTIFACT_DIR [VARNELLE_RENDER]" >&2
    exit 1
fi

app="$(realpath "$1")"
artifacts="$2"
if [ $# -ge 3 ]; then
    render="$(realpath "$3")"
else
    # build/Varnelle_artefacts/<config>/Standalone/Varnelle -> build/tools/varnelle-render
    render="$(realpath "$(dirname "$app")/../../..")/tools/varnelle-render"
fi

for tool in xvfb-run xdotool import xwininfo python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
[ -x "$app" ] || { echo "no Standalone binary at $app"; exit 1; }
[ -x "$render" ] || { echo "no varnelle-render at $render"; exit 1; }

if [ -z "${VARNELLE_PRESETS_IN_XVFB:-}" ]; then
    export VARNELLE_PRESETS_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1400x1000x24" "$0" "$app" "$artifacts" "$render"
fi

started=$SECONDS
mkdir -p "$artifacts"
scratch="$(mktemp -d)"
pid=""
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# JUCE puts the user application-data folder at ~/.config on Linux; it does not read the
# XDG_CONFIG_HOME variable, so HOME decides. Both point into the scratch folder.
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config"
presets="$HOME/.config/Varnelle/Presets"
mkdir -p "$presets" "$scratch/expected"

step=0
log() { echo "[$((SECONDS - started))s] $*" >&2; }
fail() {
    echo "FAIL: $*" >&2
    shot "failure" || true
    cp "$scratch/stderr.log" "$artifacts/presets-stderr.log" 2>/dev/null || true
    exit 1
}
shot() {
    step=$((step + 1))
    local file
    file="$(printf '%s/presets-%02d-%s.png' "$artifacts" "$step" "$1")"
    import -window root "$file"
    log "screenshot $file"
}
alive() { kill -0 "$pid" 2>/dev/null || fail "the app is no longer running"; }

make_preset() { # NAME SETTING...
    local name="$1"
    shift
    local args=()
    for setting in "$@"; do args+=(--set "$setting"); done
    "$render" --save-state "$presets/$name.varnellepreset" "${args[@]}" >/dev/null
    cp "$presets/$name.varnellepreset" "$scratch/expected/$name.varnellepreset"
}

"$render" --save-state "$scratch/expected/defaults.state" >/dev/null
make_preset Alpha band1_gain=-6
make_preset Bravo band1_gain=-12 band3_gain=-3
cmp -s "$presets/Alpha.varnellepreset" "$presets/Bravo.varnellepreset" && fail "the two presets are identical"

"$app" >"$scratch/stdout.log" 2>"$scratch/stderr.log" &
pid=$!
log "started $app (pid $pid)"

window="$(timeout 30 xdotool search --sync --onlyvisible --name '^Varnelle$' | head -n 1 || true)"
[ -n "$window" ] || fail "no Varnelle window appeared within 30 s"
alive
log "window $window"

# The editor sits below the Standalone's title bar and, when audio input is muted, a notice;
# find it on screen by the preset box's fill (0x121b2c), whose top inner row is one unbroken
# run about as wide as the box. Prints the screen position of the box's top-left corner.
locate_preset_box() {
    import -window root -depth 8 ppm:- | python3 -c '
import sys
data = sys.stdin.buffer.read()
fields, pos = [], 0
while len(fields) < 4:
    while data[pos:pos + 1].isspace():
        pos += 1
    if data[pos:pos + 1] == b"#":
        pos = data.index(b"\n", pos)
        continue
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[pos:end])
    pos = end
pixels = pos + 1
if fields[0] != b"P6" or int(fields[3]) != 255:
    sys.exit("unexpected screenshot format")
width = int(fields[1])
fill = bytes((0x12, 0x1B, 0x2C))
start = pixels
while True:
    found = data.find(fill * 200, start)
    if found < 0:
        sys.exit(1)
    if (found - pixels) % 3 == 0:
        index = (found - pixels) // 3
        x, y = index % width, index // width
        run = 0
        while x + run < width and data[found + 3 * run:found + 3 * run + 3] == fill:
            run += 1
        if 240 <= run <= 262:
            # The run starts past the rounded corner, one row below the outline.
            print(x - (260 - run) // 2, y - 1)
            sys.exit(0)
        start = found + 3 * run
    else:
        start = found + 1
'
}

box=""
for _ in $(seq 1 40); do
    alive
    box="$(locate_preset_box || true)"
    [ -n "$box" ] && break
    sleep 0.25
done
[ -n "$box" ] || fail "the preset box was not found on screen"
read -r boxX boxY <<<"$box"
editorX=$((boxX - 592))
editorY=$((boxY - 6))
eval "$(xdotool getwindowgeometry --shell "$window")"
log "preset box at $boxX,$boxY: editor at $editorX,$editorY (window at $X,$Y, offset $((editorX - X)),$((editorY - Y)))"
shot "start"

# Editor coordinates of the controls, from the editor's top-bar layout.
boxCentreX=$((editorX + 722)) boxCentreY=$((editorY + 20))
menuButtonX=$((editorX + 902)) menuButtonY=$((editorY + 20))

visible_menu() { xdotool search --onlyvisible --name '^menu$' 2>/dev/null | head -n 1 || true; }

# Clicks at X Y until a popup menu shows (at most three tries); prints its window id.
open_popup() {
    local popup=""
    for _ in 1 2 3; do
        xdotool mousemove "$1" "$2" click 1
        for _ in $(seq 1 50); do
            popup="$(visible_menu)"
            [ -n "$popup" ] && break 2
            sleep 0.1
        done
        alive
    done
    [ -n "$popup" ] || fail "no popup menu opened after clicking at $1,$2"
    sleep 0.3 # the menu takes keyboard focus once it is shown
    echo "$popup"
}

wait_popup_closed() {
    for _ in $(seq 1 50); do
        [ -z "$(visible_menu)" ] && return 0
        sleep 0.1
    done
    fail "the popup menu did not close"
}

keys() { # one key at a time, so that the menu sees each highlight move
    for key in "$@"; do
        xdotool key "$key"
        sleep 0.2
    done
}

# Presses Return in the open popup until it closes: under a slow (sanitizer) build the first
# press can be lost while the menu settles. A press that was handled closes the menu, so a
# second one is only sent while the menu is still there after a generous wait.
choose_highlighted() {
    for _ in 1 2 3; do
        keys Return
        for _ in $(seq 1 60); do
            [ -z "$(visible_menu)" ] && return 0
            sleep 0.1
        done
        log "the popup menu is still open; pressing Return again"
    done
    fail "the popup menu did not close"
}

popup_height() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$HEIGHT"
}

# 1. Pick the second preset. The list opens with the shown entry ("Factory: Reset")
#    highlighted; the five factory presets, then Alpha and Bravo follow.
popup="$(open_popup "$boxCentreX" "$boxCentreY")"
heightBefore="$(popup_height "$popup")"
shot "preset-list"
keys Down Down Down Down Down Down Down
shot "bravo-highlighted"
choose_highlighted
sleep 0.5
alive
shot "bravo-loaded"

# 2. Behind the app's back: a new preset appears, and Bravo's file is spoilt so that only a
#    save by the app can bring its content back.
make_preset Charlie band2_gain=-4
printf 'overwritten behind the app' >"$presets/Bravo.varnellepreset"

# 3. "..." -> "Refresh List", above "View: Change", the five "Listen to Band N's Change",
#    "Listen to the Change", "Redo" (disabled: nothing to redo) and "Undo Load Preset 'Bravo'";
#    the keys wrap from the top to the last entry.
popup="$(open_popup "$menuButtonX" "$menuButtonY")"
shot "preset-menu"
keys Up Up Up Up Up Up Up Up Up
shot "refresh-highlighted"
choose_highlighted
sleep 0.3
alive
shot "refreshed"

popup="$(open_popup "$boxCentreX" "$boxCentreY")"
heightAfter="$(popup_height "$popup")"
shot "list-after-refresh"
keys Escape
wait_popup_closed
[ "$heightAfter" -gt "$heightBefore" ] ||
    fail "the list did not grow after Refresh List (menu height $heightBefore -> $heightAfter)"
log "list grew from $heightBefore to $heightAfter pixels"

# 4. "..." -> "Save Preset...", the menu's first entry: overwrites the still selected Bravo.
popup="$(open_popup "$menuButtonX" "$menuButtonY")"
keys Down
shot "save-highlighted"
choose_highlighted
saved=""
for _ in $(seq 1 50); do
    if cmp -s "$presets/Bravo.varnellepreset" "$scratch/expected/Bravo.varnellepreset"; then
        saved=yes
        break
    fi
    sleep 0.1
done
alive
shot "saved"
if [ -z "$saved" ]; then
    if grep -q 'overwritten behind the app' "$presets/Bravo.varnellepreset"; then
        fail "Save Preset... did not write Bravo"
    fi
    fail "the saved Bravo differs from the state it was loaded from (preset not applied?)"
fi
log "Save Preset... wrote exactly Bravo's state"

# 5. The window's keys, with the keyboard focus on the window (a click on its left margin).
xdotool mousemove "$((editorX + 2))" "$((editorY + 500))" click 1
sleep 0.5

# A point of the indicator above its text, from the top-bar layout: it spans 418..568 x 10..30.
indicator_colour() {
    import -window root -crop "1x1+$((editorX + 493))+$((editorY + 12))" -depth 8 txt:- | tail -n 1 |
        grep -o '#[0-9A-Fa-f]\{6\}'
}
before_d="$(indicator_colour)"
keys d
sleep 0.5
shot "listening-to-the-change"
[ "$(indicator_colour)" = "#F2A33A" ] || fail "D did not show \"Listening to the Change\" (pixel $(indicator_colour))"
keys d
sleep 0.5
[ "$(indicator_colour)" = "$before_d" ] || fail "a second D did not take the indicator away"
log "D switches \"Listening to the Change\" on and off"

# Saves over the selected preset and waits for EXPECTED's bytes in it.
save_and_expect() { # EXPECTED WHAT
    popup="$(open_popup "$menuButtonX" "$menuButtonY")"
    keys Down
    choose_highlighted
    for _ in $(seq 1 50); do
        cmp -s "$presets/Bravo.varnellepreset" "$1" && return 0
        sleep 0.1
    done
    fail "$2"
}

xdotool mousemove "$((editorX + 2))" "$((editorY + 500))" click 1
sleep 0.3
keys ctrl+z
sleep 0.3
save_and_expect "$scratch/expected/defaults.state" "Ctrl+Z did not undo the preset load"
shot "undone"
xdotool mousemove "$((editorX + 2))" "$((editorY + 500))" click 1
sleep 0.3
keys ctrl+y
sleep 0.3
save_and_expect "$scratch/expected/Bravo.varnellepreset" "Ctrl+Y did not redo the preset load"
shot "redone"
log "Ctrl+Z and Ctrl+Y undo and redo the preset load"

cmp -s "$presets/Alpha.varnellepreset" "$scratch/expected/Alpha.varnellepreset" || fail "Alpha changed"
cmp -s "$presets/Charlie.varnellepreset" "$scratch/expected/Charlie.varnellepreset" || fail "Charlie changed"
leftover="$(find "$presets" -mindepth 1 ! -name 'Alpha.varnellepreset' ! -name 'Bravo.varnellepreset' \
    ! -name 'Charlie.varnellepreset')"
[ -z "$leftover" ] || fail "unexpected files in the preset folder: $leftover"

sleep 1
alive
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=""

if grep -i -E 'error|assert|segmentation' "$scratch/stderr.log"; then
    cp "$scratch/stderr.log" "$artifacts/presets-stderr.log"
    echo "FAIL: the app reported errors"
    exit 1
fi
log "passed; screenshots in $artifacts"
