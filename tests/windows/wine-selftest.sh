#!/bin/sh
# Runs the Win32 self-test under Wine on a private Xvfb display and removes both afterwards.
# Usage: wine-selftest.sh <wine> <wineserver> <Xvfb> <win32selftest.exe> <wine prefix>
# The prefix is made on first use (about 15 s) and reused. It tells Wine's X11 driver that
# no window manager runs (Managed=N), which makes a run about three times faster.
set -eu
wine=$1
wineserver=$2
xvfb_command=$3
exe=$4
prefix=$5

export WINEPREFIX="$prefix" WINEDEBUG=-all
# Neither Mono nor Gecko is needed, and their installers would stop to ask.
export WINEDLLOVERRIDES="mscoree,mshtml="

work=$(mktemp -d)
xvfb=""
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    # -k ends the Wine processes of this prefix only, which are this test's.
    "$wineserver" -k 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb writes its display number to the descriptor once it accepts clients; if it fails,
# the pipe just closes.
mkfifo "$work/displayfd"
"$xvfb_command" -displayfd 3 -nolisten tcp -screen 0 1024x768x24 \
    3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
xvfb=$!
display=""
read -r display <"$work/displayfd" || true
if [ -z "$display" ]; then
    echo "Xvfb did not start:"
    cat "$work/xvfb.log"
    exit 1
fi
export DISPLAY=":$display"

if [ ! -e "$prefix/.tessel-ready" ]; then
    echo "Making the Wine prefix $prefix (once)"
    if ! "$wine" wineboot --init >"$work/wineboot.log" 2>&1; then
        cat "$work/wineboot.log"
        exit 1
    fi
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
    # The registry reaches the disk when the server ends.
    "$wineserver" -w
    touch "$prefix/.tessel-ready"
fi

status=0
timeout 120 "$wine" "$exe" >"$work/out" 2>&1 || status=$?
cat "$work/out"
# A crash before the summary must not pass.
grep -q '^0 failed' "$work/out" || [ "$status" -ne 0 ] || status=1
exit "$status"
