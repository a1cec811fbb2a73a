#!/bin/bash
# Keyboard mapping changes while Tessel runs: the hotkeys follow F5 to whatever keycode
# xmodmap moves it to, and NumLock to another modifier; a key that another program holds at
# its new place is reported once on stderr, and taken again once it is free.
. "$(dirname "$0")/lib.sh"

start_x
start_tessel || exit 1
start_focusapp || exit 1

for text in one two three four five; do
    copy_text "$text" || {
        log "could not fill the slots"
        exit 1
    }
done

# Keycodes, as the server maps them now.
keycode_of() { xmodmap -pke | awk -v sym="$1" '$4 == sym {print $2; exit}'; }
# Free keycodes (nothing mapped) past the first, which some servers reserve.
free_keycodes() { xmodmap -pke | awk 'NF == 3 && $2 > 8 {print $2}'; }
remap() {
    local expression args=()
    for expression; do args+=(-e "$expression"); done
    xmodmap "${args[@]}" || {
        log "xmodmap failed: $*"
        exit 1
    }
}

# Presses F-key $1 once into the cleared application: true when it pasted $2. Just after a
# mapping change Tessel may not have taken the key at its new place yet; then the press
# reaches the application, and the caller waits and presses again.
pastes() {
    clear_focus && hold_key "$1" && marker x X && focus_text_is "${2}x"
}
# F-key $1 is not Tessel's: the application gets it as a key, nothing is pasted.
reaches_app() {
    clear_focus && xdotool key "$1" && marker x X && focus_got_key "$1" && focus_text_is x
}

check "F5 pastes slot 5" pastes F5 five

OLD=$(keycode_of F5)
read -r A B C <<<"$(free_keycodes | head -n3 | tr '\n' ' ')"
log "  F5 is on keycode $OLD; free keycodes $A $B $C"
# F20 is mapped nowhere else, so xdotool presses the old keycode for it.
[ -z "$(keycode_of F20)" ] || {
    log "F20 is mapped already"
    exit 1
}
remap "keycode $OLD = F20" "keycode $A = F5"
check "F5 moved to a new keycode pastes slot 5" wait_until pastes F5 five
check "the old keycode reaches the application and pastes nothing" reaches_app F20

# Another program holds keycode B before F5 moves there.
remap "keycode $B = F21"
start_bg grabkey "${GRABKEY:?path of the grabkey binary}" F21
GRABKEY_PID=$BG_PID
check "another program holds the keycode F5 moves to next" \
    wait_until grep -q grabbed "$WORK/grabkey.log"
remap "keycode $B = F5" "keycode $A = F22"
held_line() { grep -c 'F5 is held by another program' "$WORK/tessel.log"; }
check "Tessel says once on stderr that F5 is held by another program" \
    wait_until eval '[ "$(held_line)" -ge 1 ]'
# Moving F4 is a change Tessel must follow; once F4 pastes, it has seen it.
remap "keycode $C = F4" "keycode $(keycode_of F4) = F23"
check "F4 moved meanwhile pastes slot 4" wait_until pastes F4 four
one_line() {
    log "  Tessel's stderr: $(cat "$WORK/tessel.log")"
    [ "$(held_line)" -eq 1 ] && [ "$(wc -l <"$WORK/tessel.log")" -eq 1 ]
}
check "... and said it only once, in one line" one_line

kill "$GRABKEY_PID"
wait_exit "$GRABKEY_PID"
remap "keycode $B = F21" "keycode $OLD = F5"
check "F5 back on its old keycode, free again, pastes slot 5" wait_until pastes F5 five

# NumLock moves from mod2 to mod3: the keys must be grabbed with the new lock variant.
num_lock_on() {
    xdotool key Num_Lock
    wait_until eval "xset q | grep -q 'Num Lock: *on'"
}
remap "clear mod2" "add mod3 = Num_Lock"
check "NumLock, moved to another modifier, comes on" num_lock_on
check "with NumLock on, F5 still pastes" wait_until pastes F5 five

finish
