#!/bin/bash
# The window: title, size, the table and its controls, a clean exit on a close request,
# and one clear line when there is no display; asked for Wayland, it runs on X11.
. "$(dirname "$0")/lib.sh"

# $1: what QT_QPA_PLATFORM is set to (Wayland sessions often export it), or nothing.
no_display_run() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ${1:+QT_QPA_PLATFORM=$1} "$TESSEL" \
        >"$WORK/nodisplay.log" 2>&1
    NO_DISPLAY_STATUS=$?
    log "  without a display: status $NO_DISPLAY_STATUS, output: $(cat "$WORK/nodisplay.log")"
    [ "$NO_DISPLAY_STATUS" -eq 1 ] && [ "$(wc -l <"$WORK/nodisplay.log")" -eq 1 ] &&
        grep -qi 'display' "$WORK/nodisplay.log" && ! grep -qi 'plugin' "$WORK/nodisplay.log"
}
check "without a display: one line naming the problem, status 1" no_display_run
check "... also with QT_QPA_PLATFORM=wayland" no_display_run wayland

unreachable_display_run() {
    local number=999
    while have_display "$number"; do number=$((number + 1)); done
    env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=":$number" "$TESSEL" >"$WORK/baddisplay.log" 2>&1
    local status=$?
    log "  with DISPLAY=:$number: status $status, output: $(cat "$WORK/baddisplay.log")"
    [ "$status" -ne 0 ] && [ "$(wc -l <"$WORK/baddisplay.log")" -eq 1 ] &&
        grep -q ":$number" "$WORK/baddisplay.log"
}
check "with a display that cannot be reached: one line naming it, nonzero status" \
    unreachable_display_run

start_x

window_size_is() {
    local geometry
    geometry=$(xwininfo -id "$TESSEL_WIN" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
    log "  window size: $geometry"
    [ "$geometry" = "$1" ]
}

# Started as in a Wayland session with XWayland: Tessel runs on X11 all the same.
check "with QT_QPA_PLATFORM=wayland the window titled \"$TESSEL_TITLE\" appears" \
    start_tessel env QT_QPA_PLATFORM=wayland
one_line_on_xcb() {
    log "  stderr: $(cat "$WORK/tessel.log")"
    [ "$(wc -l <"$WORK/tessel.log")" -eq 1 ] && grep -q 'xcb' "$WORK/tessel.log"
}
check "... and says in one line that it runs on xcb" one_line_on_xcb
check "the window is 550x420" window_size_is 550x420

# The table's header and the three controls, as a user sees them; the screenshot is kept.
screenshot window
table_and_controls_shown() {
    # Crop to the window and look for the dark text of the header and buttons on the light
    # window background: a blank or black window has neither.
    local dark light
    window_origin "$TESSEL_WIN"
    convert "$LAST_SHOT" -crop "550x420+$WIN_X+$WIN_Y" +repage "$WORK/window.png"
    dark=$(convert "$WORK/window.png" -colorspace Gray -threshold 40% -negate -format '%[fx:mean]' info:)
    light=$(convert "$WORK/window.png" -colorspace Gray -threshold 80% -format '%[fx:mean]' info:)
    log "  share of dark pixels: $dark, of light pixels: $light"
    awk -v d="$dark" -v l="$light" 'BEGIN { exit !(d > 0.002 && d < 0.2 && l > 0.7) }'
}
check "a screenshot shows the table and the controls" table_and_controls_shown

closed_cleanly() {
    wm_close "$TESSEL_WIN" && wait_exit "$TESSEL_PID" || return 1
    log "  exit status: $EXIT_STATUS"
    [ "$EXIT_STATUS" -eq 0 ]
}
check "a close request from the window manager ends the program with status 0" closed_cleanly

finish
