#!/bin/bash
# Hostile clipboard owners: an owner that never answers blocks neither the window nor the
# F-keys and costs one timeout, not one per format; a key that reaches the window late
# pastes nothing; a password whose mark is refused is not kept; the capture worker can die
# or stop without losing a clip, and a replaced worker's late answer does not reach the next
# one; a paste does not cut a slow owner's transfer short; and in a burst of copies each
# slot holds one copy, whole, once, with the last copy among them.
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

# A worker that stops (here: SIGSTOP) misses the change; the window sees it did and starts
# another, which reads what the clipboard holds.
stopped_copy_captured() {
    kill -STOP "$(worker)" && TIMEOUT=2 copy_text stopped
}
check "a copy made while the worker is stopped is read within 2 s" stopped_copy_captured
check "it is in slot 6" eval 'clear_focus && hold_key F6 && wait_focus_text stopped'

start_bg slow "$HOSTILEOWNER" late 1500 slow
check "an owner answers a second and a half late" wait_until eval '[ "$(asked slow)" -ge 1 ]'
check "meanwhile F1 pastes \"one\"" eval 'clear_focus && hold_key F1 && wait_focus_text one'
check "the slow owner's text still reaches slot 7" \
    wait_until eval 'clear_focus && hold_key F7 && TIMEOUT=1 wait_focus_text slow'

# Copies about as fast as a script can make them, every other one a PNG of its own.
for i in $(seq 2 2 240); do
    convert -size 4x4 "xc:rgb($i,$((i / 2)),7)" "$WORK/burst-$i.png"
    echo "$(md5sum <"$WORK/burst-$i.png" | cut -c1-32) png-$i"
done >"$WORK/burst-sums"
burst() {
    local i
    for i in $(seq 1 240); do
        if ((i % 2)); then
            printf 'txt-%d' "$i" | xclip -selection clipboard -t UTF8_STRING
        else
            xclip -selection clipboard -t image/png -i "$WORK/burst-$i.png"
        fi
    done
    copy_text txt-last
}
check "240 copies in a burst, text and PNG by turns, then \"txt-last\"" burst

# Reads slot $1 back from the clipboard after its F-key: "png-N", its text, or why not.
slot_copy() {
    local targets text sum
    hold_key "F$1" && wait_until eval '[ "$(xclip -o -selection clipboard -t TARGETS 2>/dev/null |
        md5sum)" != "$LAST_TARGETS" ] || [ "$(xclip -o -selection clipboard 2>/dev/null)" != "$LAST_TEXT" ]'
    LAST_TARGETS=$(xclip -o -selection clipboard -t TARGETS 2>/dev/null | md5sum)
    LAST_TEXT=$(xclip -o -selection clipboard 2>/dev/null)
    targets=$(clipboard_targets | grep -vx -e TARGETS -e MULTIPLE -e TIMESTAMP -e SAVE_TARGETS |
        tr '\n' ' ')
    if [[ " $targets" == *" image/png "* ]]; then
        sum=$(xclip -o -selection clipboard -t image/png | md5sum | cut -c1-32)
        [[ " $targets" != *" UTF8_STRING "* ]] && grep "^$sum " "$WORK/burst-sums" |
            cut -d' ' -f2 || echo "mixed: [$targets] $sum"
    else
        text=$(xclip -o -selection clipboard -t UTF8_STRING)
        # Slots the burst did not reach keep the earlier cases' texts.
        [[ "$text" =~ ^[[:alnum:]-]+$ ]] && echo "$text" || echo "mixed: [$targets] $text"
    fi
}
slots_are_copies() {
    local k copies=()
    LAST_TARGETS="" LAST_TEXT=""
    for k in $(seq 1 10); do
        copies+=("$(slot_copy "$k")")
    done
    log "  slots: ${copies[*]}"
    ! printf '%s\n' "${copies[@]}" | grep -q mixed &&
        [ "$(printf '%s\n' "${copies[@]}" | sort | uniq -d)" = "" ] &&
        printf '%s\n' "${copies[@]}" | grep -qx txt-last
}
check "each slot holds one copy, whole, no copy twice, and \"txt-last\" is kept" slots_are_copies

finish
