# Sourced by the window checks: runs the calling script again on a virtual screen that holds
# the largest window (with its title bar), and gives it a home of its own that goes with it.
# Defines fail MESSAGE.

fail() { echo "FAIL: $*"; exit 1; }

if [ -z "${VARNELLE_IN_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || fail "xvfb-run is missing (package xvfb)"
    export VARNELLE_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 2560x1700x24" "$0" "$@"
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch" XDG_CONFIG_HOME="$scratch/.config"
