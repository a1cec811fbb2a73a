#!/bin/bash
# The real tessel.exe under Wine set to 200% (LogPixels 192, in a Wine prefix of its own, so
# that the other checks keep 96 DPI): the window at twice its size in screen pixels and its
# ten rows all shown.
# Inputs: WIN_BUILD (the cross build), TITLE (the window's title), E2E_ARTIFACTS.
: "${WIN_BUILD:?the Windows build folder}" "${TITLE:?the window title}"
TESSEL="$WIN_BUILD/stage/tessel.exe"
# A Wine program takes a few seconds to show its first window on a busy machine.
E2E_TIMEOUT=${E2E_TIMEOUT:-30}
. "$(dirname "$0")/../e2e/lib.sh"
. "$(dirname "$0")/wine.sh"
trap 'status=$?; wine_stop; (exit $status); cleanup' EXIT

start_x 192
wine_prefix "$WIN_BUILD/wineprefix-hidpi" || exit 1
"$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f \
    >"$WORK/reg.log" 2>&1 || {
    cat "$WORK/reg.log"
    exit 1
}

start_bg tessel "$WINE" "$TESSEL"
TESSEL_PID=$BG_PID
check "the window titled \"$TITLE\" opens" wait_window "$TITLE"
[ -n "${WINDOW:-}" ] || exit 1
TESSEL_WIN=$WINDOW
xdotool windowmove --sync "$TESSEL_WIN" 20 40 >/dev/null 2>&1

window_size_is() {
    log "  window size: $(window_size "$TESSEL_WIN")"
    [ "$(window_size "$TESSEL_WIN")" = "$1" ]
}
check "the window is 1100x840 screen pixels (550x420 at 96 DPI)" window_size_is 1100x840

for i in $(seq 10); do
    copy_text "row $i;" || fail "copying text $i"
done
screenshot ten-rows
# Each delete cell's red X whole: a row cut off by the table's edge would show less of it.
ten_rows_shown() {
    local marks
    window_origin "$TESSEL_WIN"
    convert "$LAST_SHOT" -crop "1100x840+$WIN_X+$WIN_Y" +repage "$WORK/window.png" || return 1
    marks=$(red_marks "$WORK/window.png" | paste -sd ' ')
    log "  red marks in the window: $marks"
    [ "$(wc -w <<<"$marks")" -eq 10 ] && [ "$(tr ' ' '\n' <<<"$marks" | sort -u | wc -l)" -eq 1 ]
}
check "all ten rows show, each with its whole delete icon" ten_rows_shown

closed_cleanly() {
    wm_close "$TESSEL_WIN" && wait_exit "$TESSEL_PID" || return 1
    log "  exit status: $EXIT_STATUS"
    [ "$EXIT_STATUS" -eq 0 ]
}
check "closing the window ends Tessel with status 0" closed_cleanly

finish
