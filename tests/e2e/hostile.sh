#!/bin/bash
# Hostile clipboard owners: an owner that never answers blocks neither the window nor the
# F-keys and costs one timeout, not one per format; a key that reaches the window late
# pastes nothing; a password whose mark is refused is not kept; the capture worker can die
# without losing a clip, and a replaced worker's late answer does not reach the next one.
. "$(dirname "$0")/lib.sh"

start_x
start_tessel || exit 1
start_focusapp || exit 1

check "\"one\" copied" copy_text one
check "\"two\" copied" copy_text two

asked() { grep -c '^asked' "$WORK/$1.log" 2>/dev/null; }

start_bg hang "${HOSTILEOWNER:?path of the fakeowner binary}" hang 10
HANG_PID=$BG_PID
check "an owner lists ten formats and hangs on the first request" \
    wait_until eval '[ "$(asked hang)" -ge 1 ]'
# Qt waits 5 s for the owner; the window must not.
paste_at_once() { TIMEOUT=2 wait_focus_text two; }
check "while its capture hangs, F2 pastes \"two\" at once" eval 'hold_key F2 && paste_at_once'
# Before, ten formats cost ten timeouts of 5 s each, then one; the newest change now wins.
next_copy_captured() { TIMEOUT=4 copy_text three; }
check "the next copy is captured without waiting for the hung owner" next_copy_captured
check "the hung owner was asked once" eval '[ "$(asked hang)" = 1 ]'
kill "$HANG_PID"

# A press that reaches the window a second late (here: the program was stopped) would paste
# into whatever has the focus by then; had F1 pasted, "one" would come before F2's "two".
stale_key() {
    clear_focus || return 1
    kill -STOP "$TESSEL_PID"
    xdotool key F1
    sleep 1
    kill -CONT "$TESSEL_PID"
    hold_key F2 && wait_focus_text two
}
check "a press handled a second late pastes nothing" stale_key

start_bg hint "$HOSTILEOWNER" hint hunter2
check "a password is offered with a mark the owner refuses" \
    wait_until eval '[ "$(asked hint)" -ge 1 ]'
# Had it been kept it would be slot 4; F1 after F4 shows F4 pasted nothing.
check "it takes no slot: F4 pastes nothing" \
    eval 'clear_focus && hold_key F4 && hold_key F1 && wait_focus_text one'
check "the password was never read" eval '! grep -q "^asked text/plain" "$WORK/hint.log"'

worker() { pgrep -P "$TESSEL_PID" | head -n1; }
kill_worker() {
    local old
    old=$(worker)
    [ -n "$old" ] && kill -9 "$old" && wait_until eval '[ -n "$(worker)" ] && [ "$(worker)" != '"$old"' ]'
}
check "the capture worker is killed and comes back" kill_worker
check "no clip was lost: F3 pastes \"three\"" \
    eval 'clear_focus && hold_key F3 && wait_focus_text three'
check "the next copy is captured into slot 4" \
    eval 'copy_text four && clear_focus && hold_key F4 && wait_focus_text four'

# A replaced worker's owner answers after the worker is gone, to the window it asked from;
# the X server may give the next worker that window's id. Its answer must not be taken for
# the next owner's, which is still being waited for.
start_bg late-old "$HOSTILEOWNER" late 1000 stale
check "an owner answers a second late" wait_until eval '[ "$(asked late-old)" -ge 1 ]'
start_bg late-new "$HOSTILEOWNER" late 1000 fresh
check "a second late owner takes over; the worker is replaced and asks it" \
    wait_until eval '[ "$(asked late-new)" -ge 1 ]'
# Until the capture lands slot 5 is empty, and F5 pastes nothing.
fifth_pastes_fresh() { clear_focus && hold_key F5 && TIMEOUT=1 wait_focus_text fresh; }
check "slot 5 holds the new owner's text, not the old one's late answer" \
    wait_until fifth_pastes_fresh

finish
