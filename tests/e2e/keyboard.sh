#!/bin/bash
# Replay whatever the keyboard state: with NumLock, CapsLock or both on, and with a layout
# that has no Latin v (Russian alone), where Tessel lends a spare keycode to v for the paste
# and gives it back afterwards, also when it exits at once, by a close or by a signal.
. "$(dirname "$0")/lib.sh"

start_x
start_tessel || exit 1
start_focusapp || exit 1

check "\"alpha\" copied by another program" copy_text alpha

paste_alpha() { clear_focus && hold_key F1 && wait_focus_text alpha; }

# Toggles lock key $1 and waits until indicator $2 shows state $3.
lock_to() {
    xdotool key "$1"
    wait_until eval "xset q | grep -q '$2: *$3'"
}
check "NumLock on" lock_to Num_Lock "Num Lock" on
check "with NumLock on, F1 pastes" paste_alpha
check "CapsLock on as well" lock_to Caps_Lock "Caps Lock" on
check "with NumLock and CapsLock on, F1 pastes" paste_alpha
check "NumLock off again" lock_to Num_Lock "Num Lock" off
check "with CapsLock on, F1 pastes" paste_alpha
check "CapsLock off again" lock_to Caps_Lock "Caps Lock" off

v_keycodes() { xmodmap -pke | awk '$4 == "v" {print $2}'; }
has_no_v() { [ -z "$(v_keycodes)" ]; }

russian() {
    setxkbmap -layout ru && wait_until has_no_v || return 1
    xmodmap -pke >"$WORK/keymap-ru.txt"
}
check "the layout is Russian alone: no keycode gives v" russian
check "with the Russian layout, F1 pastes into the Qt application" paste_alpha
keymap_as_before() {
    wait_until has_no_v || return 1
    xmodmap -pke >"$WORK/keymap-after.txt"
    diff "$WORK/keymap-ru.txt" "$WORK/keymap-after.txt"
}
check "the keycode lent to v is given back: the keymap is as before" keymap_as_before
check "a second replay lends it again and pastes" paste_alpha
check "and gives it back again" keymap_as_before
check "with the Russian layout, F1 pastes into zenity (GTK)" zenity_gets F1 alpha
check "and gives the key back" keymap_as_before
activate "$FOCUS_WIN"

close_at_once() {
    clear_focus && hold_key F1 && wait_focus_text alpha || return 1
    wm_close "$TESSEL_WIN" && wait_exit "$TESSEL_PID" || return 1
    log "  exit status $EXIT_STATUS, keycodes for v after exit: '$(v_keycodes)'"
    [ "$EXIT_STATUS" -eq 0 ] && has_no_v && keymap_as_before
}
check "closing Tessel right after a replay leaves no v behind" close_at_once

# Ended by a signal instead, Tessel gives the key back as on a close and exits with status
# 0. Started from a script, SIGINT would come ignored, and stay so.
ended_by() {
    local signal=$1 attempt
    start_tessel env --default-signal=INT || return 1
    activate "$FOCUS_WIN" && copy_text alpha || return 1
    # The keycode stays lent for a second after a paste: the signal must come meanwhile.
    # A machine too slow for that gets another paste.
    for attempt in 1 2 3 4 5; do
        clear_focus && hold_key F1 && wait_focus_text alpha || return 1
        [ -n "$(v_keycodes)" ] && break
        log "  paste $attempt: the lent keycode was given back before the signal"
    done
    kill -"$signal" "$TESSEL_PID"
    wait_exit "$TESSEL_PID" || return 1
    log "  exit status $EXIT_STATUS, keycodes for v after SIG$signal: '$(v_keycodes)'"
    [ "$EXIT_STATUS" -eq 0 ] && has_no_v && keymap_as_before
}
for signal in TERM INT HUP; do
    check "SIG$signal right after a replay: status 0, no v left behind" ended_by "$signal"
done
# A key grab dies with its client anyway; this is that nothing of Tessel stayed behind.
f1_free() {
    start_bg grabkey "${GRABKEY:?path of the grabkey binary}" F1
    wait_until grep -q grabbed "$WORK/grabkey.log"
}
check "after that another program can take F1" f1_free

finish
