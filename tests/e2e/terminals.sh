#!/bin/bash
# Pasting into terminals: F1 gives bash in xterm and in lxterminal the copied command as
# typed text (a Ctrl+V would put bash in quoted-insert mode), Return runs it, and the shell
# takes the next command as usual. The primary selection xterm pastes from takes no slot.
. "$(dirname "$0")/lib.sh"

start_x
start_tessel || exit 1
check "a command copied by another program" copy_text "echo pasted-ok > pasted"

# Starts terminal "$@" with bash in folder $WORK/$1 and nothing of the user's; TERM_WIN is
# its window, titled $1.
start_terminal() {
    local name=$1
    shift
    mkdir -p "$WORK/$name"
    start_bg "$name" env -i -C "$WORK/$name" DISPLAY="$DISPLAY" HOME="$HOME" PATH=/usr/bin:/bin \
        XDG_CONFIG_HOME="$XDG_CONFIG_HOME" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" NO_AT_BRIDGE=1 "$@"
    wait_window "$name" || {
        log "  $name did not appear"
        return 1
    }
    TERM_WIN=$WINDOW
    activate "$TERM_WIN"
}

holds() { [ "$(cat "$1" 2>/dev/null)" = "$2" ]; }

# F1 into the terminal with the focus, then Return: the shell ran the pasted command in
# folder $1. The terminal fetches the text on its own time: Return waits until it shows,
# and is pressed also when nothing does, so that the next check sees what it leaves.
runs_paste() {
    wait_window_still "$TERM_WIN" && hold_key F1 || return 1
    wait_until window_changed "$TERM_WIN" || log "  F1 changed nothing in the terminal"
    screenshot "$(basename "$1")"
    xdotool key Return && wait_until holds "$1/pasted" pasted-ok
}

# A command typed after the paste runs too: the shell is not left quoting the next key.
runs_typed() {
    xdotool type "echo $2 > $2" && xdotool key Return && wait_until holds "$1/$2" "$2"
}

start_terminal xterm-bash xterm -T xterm-bash -e bash --norc --noprofile || exit 1
check "xterm: F1 pastes the command and Return runs it" runs_paste "$WORK/xterm-bash"
check "xterm: the next typed command runs" runs_typed "$WORK/xterm-bash" second
# Had Tessel taken the primary selection it set for xterm as a clip, F2 would paste it.
empty_f2() { hold_key F2 && runs_typed "$1" third; }
check "xterm: F2 pastes nothing, the primary selection took no slot" empty_f2 "$WORK/xterm-bash"
# A layout without Insert: a spare keycode stands in for it, as for a missing v.
INSERT=$(xmodmap -pke | awk '$4 == "Insert" {print $2; exit}')
rm -f "$WORK/xterm-bash/pasted"
xmodmap -e "keycode $INSERT = "
check "xterm: F1 still pastes with no Insert in the layout" runs_paste "$WORK/xterm-bash"
xmodmap -e "keycode $INSERT = Insert"

start_terminal lxterminal-bash lxterminal --no-remote -T lxterminal-bash \
    -e "bash --norc --noprofile" || exit 1
check "lxterminal: F1 pastes the command and Return runs it" runs_paste "$WORK/lxterminal-bash"
check "lxterminal: the next typed command runs" runs_typed "$WORK/lxterminal-bash" second
screenshot terminals

finish
