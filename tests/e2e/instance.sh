#!/bin/bash
# One Tessel per user and display: a second start brings the running window to the front
# (also out of the minimised state) and exits with status 0, without a box or a second
# window; the first one still pastes, also when `tessel --paste N` asks it to. A lock left by
# a crash does not stop the next start, and of two starts at once exactly one runs. A copy
# made as the window appears is kept, also when its owner held the clipboard before.
. "$(dirname "$0")/lib.sh"

start_x
start_tessel || exit 1
FIRST_PID=$TESSEL_PID
start_focusapp || exit 1

tessel_windows() { xdotool search --onlyvisible --name '^Tessel V2\.1$' 2>/dev/null | wc -l; }
active_is() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
# The window manager's top window, in xdotool's decimal form.
topmost() { printf '%d' "$(xprop -root _NET_CLIENT_LIST_STACKING | awk '{print $NF}')"; }

# Starts Tessel again and waits for that start to end; true when it ended with status 0
# and said nothing.
second_start() {
    start_bg second "$TESSEL"
    wait_exit "$BG_PID" || {
        log "  the second start did not end"
        return 1
    }
    log "  second start: status $EXIT_STATUS, output: '$(cat "$WORK/second.log")'"
    [ "$EXIT_STATUS" -eq 0 ] && [ ! -s "$WORK/second.log" ]
}

front_alone() {
    wait_until eval 'active_is $TESSEL_WIN && [ "$(topmost)" = "$TESSEL_WIN" ]' || {
        log "  active window $(xdotool getactivewindow), top $(topmost), Tessel's $TESSEL_WIN"
        return 1
    }
    [ "$(tessel_windows)" -eq 1 ] && [ -z "$(window_named error)" ]
}

# The focus application covers part of Tessel's window.
xdotool windowmove --sync "$FOCUS_WIN" 300 100 >/dev/null 2>&1
activate "$FOCUS_WIN"
# The user works in the focus application, typing, and then starts Tessel again: the window
# manager weighs the first one's activation against that last key press.
working_in_focusapp() {
    activate "$FOCUS_WIN" && clear_focus && active_is "$FOCUS_WIN" && [ "$(topmost)" = "$FOCUS_WIN" ]
}
check "the focus application is in front, the user typing there" working_in_focusapp
check "a second start ends with status 0 and says nothing" second_start
check "the first window comes to the front, no other window or box" front_alone

minimised() { xdotool windowminimize --sync "$TESSEL_WIN" && working_in_focusapp; }
check "the first window minimised, the focus application in front" minimised
check "another start ends with status 0" second_start
check "the first window is shown again, in front" front_alone
screenshot raised

activate "$FOCUS_WIN"
check "\"alpha\" copied by another program" copy_text alpha
first_pastes() { clear_focus && hold_key F1 && marker x X && focus_text_is alphax; }
check "the first Tessel still pastes, once" first_pastes

# `tessel --paste N`, for desktops where the F-keys are the compositor's to bind.
check "\"beta\" copied too" copy_text beta
paste_command() { clear_focus && "$TESSEL" --paste 2 && wait_focus_text beta; }
check "tessel --paste 2 pastes slot 2 and ends with status 0" paste_command
two_at_once() {
    local a b
    clear_focus || return 1
    "$TESSEL" --paste 1 &
    a=$!
    "$TESSEL" --paste 2 &
    b=$!
    # Two pastes close together: the receiver may fetch the first after the second replaced
    # it on the clipboard, as with two quick F-key presses.
    wait "$a" && wait "$b" && wait_until eval '[[ "$(focus_text)" =~ ^(alpha|beta)(alpha|beta)$ ]]'
}
check "two at once: both end with status 0, and two pastes arrive" two_at_once
bad_slot() {
    "$TESSEL" --paste 11 2>"$WORK/bad.log"
    [ $? -eq 2 ] && grep -q '^usage: tessel --paste N' "$WORK/bad.log"
}
check "tessel --paste 11 prints its usage and ends with status 2" bad_slot

# A crash leaves the lock file and the wake file behind.
kill -9 "$FIRST_PID"
wait_exit "$FIRST_PID"
gone() { [ "$(tessel_windows)" -eq 0 ]; }
check "after a crash its window is gone" wait_until gone
nobody_to_paste() {
    "$TESSEL" --paste 1 2>"$WORK/alone.log"
    [ $? -eq 1 ] && [ "$(wc -l <"$WORK/alone.log")" -eq 1 ]
}
check "with no Tessel running, tessel --paste says so in one line, status 1" nobody_to_paste

start_bg racer-a "$TESSEL"
RACER_A=$BG_PID
start_bg racer-b "$TESSEL"
RACER_B=$BG_PID
one_runs() {
    local ended
    wait_window "Tessel V2\.1" || return 1
    TESSEL_WIN=$WINDOW
    # One of the two ends by itself, the other keeps running.
    wait_until eval '! kill -0 $RACER_A 2>/dev/null || ! kill -0 $RACER_B 2>/dev/null' || return 1
    if kill -0 "$RACER_A" 2>/dev/null; then ended=$RACER_B; else ended=$RACER_A; fi
    wait_exit "$ended"
    log "  one start ended with status $EXIT_STATUS; windows: $(tessel_windows)"
    [ "$EXIT_STATUS" -eq 0 ] && { kill -0 "$RACER_A" 2>/dev/null || kill -0 "$RACER_B" 2>/dev/null; } &&
        [ "$(tessel_windows)" -eq 1 ] && [ -z "$(window_named error)" ]
}
check "then of two starts at once exactly one runs; the other ends with status 0" one_runs

# A program whose window already holds the clipboard copies again just as Tessel's window
# appears, before its capture worker is up: that copy is new, though its owner is not.
kill "$RACER_A" "$RACER_B" 2>/dev/null
check "the running Tessel is stopped" wait_until gone
mkfifo "$WORK/owner.in" && exec 7<>"$WORK/owner.in"
# Commands go in through a pipe; a background job's own stdin would be /dev/null.
start_bg owner sh -c 'exec "$0" x11 text <"$1"' "$HOSTILEOWNER" "$WORK/owner.in"
owned() { [ "$(grep -c '^owned' "$WORK/owner.log")" -ge "$1" ]; }
check "an owner's window holds the clipboard" eval 'echo "own before" >&7 && wait_until owned 1'
copy_as_window_appears() {
    start_tessel || return 1
    echo "own after" >&7 && wait_until owned 2
}
check "Tessel starts; as its window appears, the same owner copies again" copy_as_window_appears
# Pressed again until the capture has landed: a press before it pastes nothing.
f1_pastes_after() { activate "$FOCUS_WIN" && clear_focus && hold_key F1 && TIMEOUT=2 wait_focus_text after; }
check "that copy is kept: F1 pastes it" wait_until f1_pastes_after

finish
