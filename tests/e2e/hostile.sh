#!/bin/bash
# Hostile clipboard owners: one that never answers costs one timeout, not one per format; a
# key pressed while the window waits for it pastes nothing later; a password whose mark is
# refused is not kept.
. "$(dirname "$0")/lib.sh"

start_x
start_tessel || exit 1
start_focusapp || exit 1

check "\"one\" copied" copy_text one
check "\"two\" copied" copy_text two

asked() { grep -c '^asked' "$WORK/$1.log" 2>/dev/null; }

start_bg hang "${HOSTILEOWNER:?path of the hostileowner binary}" hang 10
HANG_PID=$BG_PID
check "an owner lists ten formats and hangs on the first request" \
    wait_until eval '[ "$(asked hang)" -ge 1 ]'

# While Tessel waits for the owner, F1 is pressed; Tessel sees it only after the timeout.
xdotool key F1
# Qt waits 5 s for an answer; ten formats would be 50 s without the mend.
next_copy_captured() { TIMEOUT=12 copy_text three; }
check "the next copy is captured within one timeout" next_copy_captured
check "the hung owner was asked once" eval '[ "$(asked hang)" = 1 ]'

# F1's paste, had it been replayed late, would come before F2's.
check "the stale F1 pasted nothing; a fresh F2 pastes \"two\"" \
    eval 'hold_key F2 && wait_focus_text two'
kill "$HANG_PID"

start_bg hint "$HOSTILEOWNER" hint hunter2
check "a password is offered with a mark the owner refuses" \
    wait_until eval '[ "$(asked hint)" -ge 1 ]'
# Had it been kept it would be slot 4; F1 after F4 shows F4 pasted nothing.
check "it takes no slot: F4 pastes nothing" \
    eval 'clear_focus && hold_key F4 && hold_key F1 && wait_focus_text one'
check "the password was never read" eval '! grep -q "^asked text/plain" "$WORK/hint.log"'

finish
