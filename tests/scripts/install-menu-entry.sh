#!/usr/bin/env bash
# scripts/run's menu entry for the home-folder app: it starts ~/.local/bin/Varnelle (not the
# package's /usr/bin/varnelle), finds its icon, and passes desktop-file-validate when present.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"

home="$(mktemp -d "${TMPDIR:-/tmp}/home with space.XXXXXX")"
trap 'rm -rf "$home"' EXIT
install_user_menu_entry "$home" >/dev/null
entry="$home/.local/share/applications/varnelle.desktop"
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

grep -qxF "Exec=\"$home/.local/bin/Varnelle\"" "$entry" || fail "Exec is $(grep '^Exec=' "$entry")"
grep -qx 'Icon=varnelle' "$entry" || fail "no Icon=varnelle"
[ "$(identify -format '%wx%h' "$home/.local/share/icons/hicolor/256x256/apps/varnelle.png")" = 256x256 ] ||
    fail "no 256x256 icon"
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$entry" || fail "desktop-file-validate"
fi

[ "$failures" -eq 0 ] && echo "install-menu-entry: 1 passed, 0 failed" && exit 0
echo "0 passed, $failures failed"
exit 1
