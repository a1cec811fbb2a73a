#!/bin/bash
# Global hotkeys: while Tessel runs, bare F3 never reaches the focused application
# (whatever the lock keys), F3 with Ctrl or Shift does; a key another program holds gives
# one warning and leaves the other keys working; after the window closes F3 is free again.
. "$(dirname "$0")/lib.sh"

start_x

# Another hotkey program holds the bare F5 before Tessel starts.
start_bg grabkey "${GRABKEY:?path of the grabkey binary}" F5
check "the helper holds F5" wait_until grep -q grabbed "$WORK/grabkey.log"

start_bg tessel "$TESSEL"
TESSEL_PID=$BG_PID
one_warning_box() {
    wait_window error || return 1
    BOX=$WINDOW
    screenshot warning
    window_origin "$BOX"
    log "  warning box at $WIN_X,$WIN_Y"
}
check "Tessel shows a warning box titled \"error\" at start" one_warning_box

dismiss_box() {
    activate "$BOX" && xdotool key Return && wait_until eval '[ -z "$(window_named error)" ]'
}
check "Return dismisses the warning box" dismiss_box

window_after_one_box() {
    # All warnings come before the window: once it is up, no second box can follow.
    wait_window "$TESSEL_TITLE" || return 1
    TESSEL_WIN=$WINDOW
    [ -z "$(window_named error)" ]
}
check "exactly one warning, then the window opens" window_after_one_box
xdotool windowmove --sync "$TESSEL_WIN" 20 40 >/dev/null 2>&1

start_focusapp || exit 1

# xdotool sends the keys in order; the marker key x arrives after the F-key had its chance.
f3_not_delivered() {
    clear_focus && xdotool key F3 && marker x X && ! focus_got_key F3
}
check "F3 does not reach the focused application" f3_not_delivered

with_lock() {
    local lock=$1 name=$2
    shift 2
    xdotool key "$lock"
    wait_until eval "xset q | grep -q '$name: *on'" || {
        log "  $name did not come on"
        return 1
    }
    "$@"
    local result=$?
    xdotool key "$lock"
    wait_until eval "xset q | grep -q '$name: *off'"
    return $result
}
check "F3 with NumLock on does not reach the application" with_lock Num_Lock "Num Lock" f3_not_delivered
check "F3 with CapsLock on does not reach the application" with_lock Caps_Lock "Caps Lock" f3_not_delivered

delivered() {
    clear_focus && xdotool key "$1" && wait_until focus_got_key "$2"
}
check "Ctrl+F3 reaches the application" delivered ctrl+F3 Ctrl+F3
check "Shift+F3 reaches the application" delivered shift+F3 Shift+F3

# Tessel could take the other lock variants of F5; it must have given them back.
check "F5, which the helper holds, is not kept by Tessel in part (NumLock on)" \
    with_lock Num_Lock "Num Lock" delivered F5 F5

close_window() {
    wm_close "$TESSEL_WIN" && wait_exit "$TESSEL_PID" && [ "$EXIT_STATUS" -eq 0 ]
}
check "closing the window ends Tessel with status 0" close_window
check "after the window closed F3 reaches the application" delivered F3 F3
check "... also with CapsLock on" with_lock Caps_Lock "Caps Lock" delivered F3 F3

finish
