#!/bin/bash
# Replay: F1 to F10, held as a user holds them, paste their slot into the focused
# application (a recording Qt application, and zenity); the clipboard then holds the
# replayed clip in every format, byte for byte, offers no format the source did not, and
# the replay takes no row of its own.
. "$(dirname "$0")/lib.sh"

start_x
start_tessel || exit 1
start_focusapp || exit 1

check "\"alpha\" copied by another program" copy_text alpha
check "then \"beta\"" copy_text beta

paste() {
    local key=$1 expected=$2
    clear_focus && hold_key "$key" && wait_focus_text "$expected"
}
check "F2 held: the application gets \"beta\"" paste F2 beta
check "F1: the application gets \"alpha\"" paste F1 alpha

twice() {
    clear_focus && hold_key F1 && wait_focus_text alpha && hold_key F1 && wait_focus_text alphaalpha
}
check "F1 twice: \"alphaalpha\"" twice

# Replays come out in the order of the presses: F1's paste follows whatever F5 did.
pastes_nothing() {
    clear_focus && hold_key "$1" && hold_key F1 && wait_focus_text alpha
}
check "F5 on an empty slot pastes nothing" pastes_nothing F5

clipboard_is() { [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]; }
check "after a replay the clipboard holds the replayed text" clipboard_is alpha

# Had a replay been captured, row 3 would hold it.
check "the replays took no row: F3 pastes nothing" pastes_nothing F3

# An image with transparency and detail, so that a conversion would show.
convert -size 96x64 gradient:'#ff000080-#0000ff' -fill '#00ff00' -draw 'circle 30,30 40,36' \
    -define png:color-type=6 "$WORK/image.png"
check "a PNG copied by another program" copy_file image/png "$WORK/image.png"
image_comes_back() {
    clear_focus && hold_key F3 &&
        wait_until eval 'clipboard_targets | grep -qx image/png' &&
        xclip -o -selection clipboard -t image/png >"$WORK/image-back.png" || return 1
    # What the source offered and nothing else: no image types made up on the way.
    local offered
    offered=$(clipboard_targets | grep -vx -e TARGETS -e MULTIPLE -e TIMESTAMP -e SAVE_TARGETS)
    log "  offered: $(echo $offered)"
    [ "$offered" = image/png ] || return 1
    local differing
    differing=$(compare -metric AE "$WORK/image.png" "$WORK/image-back.png" null: 2>&1)
    log "  pixels differing: $differing; bytes identical: $(cmp -s "$WORK/image.png" \
        "$WORK/image-back.png" && echo yes || echo no)"
    [ "$differing" = 0 ]
}
check "F3 replays the PNG: the clipboard offers it alone, with the same pixels" image_comes_back

head -c 4096 /dev/urandom >"$WORK/binary.dat"
check "4 KiB of binary data copied in a format of its own" \
    copy_file application/x-tessel-test "$WORK/binary.dat"
bytes_come_back() {
    local file=$1
    clear_focus && hold_key "$2" &&
        wait_until eval 'clipboard_targets | grep -qx application/x-tessel-test' &&
        xclip -o -selection clipboard -t application/x-tessel-test >"$WORK/back.dat" &&
        cmp "$file" "$WORK/back.dat"
}
check "F4 replays it: the clipboard gives back the same bytes" bytes_come_back "$WORK/binary.dat" F4

# Large enough for the incremental transfer both ways.
head -c 1048576 /dev/urandom >"$WORK/large.dat"
check "1 MiB of binary data copied" copy_file application/x-tessel-test "$WORK/large.dat"
check "F5 replays it byte for byte" bytes_come_back "$WORK/large.dat" F5

check "after all this, F6 still pastes nothing" pastes_nothing F6

# A file cut in a file manager, offered as pcmanfm offers it. A paste offers those formats
# alone and in that order (Qt's own list adds text/x-moz-url and text/plain to a
# text/uri-list), and the cut mark's bytes: a cut stays a cut.
CUT_FORMATS="text/uri-list x-special/gnome-copied-files application/x-kde-cutselection"
start_bg cut "${HOSTILEOWNER:?path of the hostileowner binary}" cut file:///tmp/cut.txt
CUT_PID=$BG_PID
check "a file cut in a file manager is captured" \
    wait_until grep -qs '^asked x-special/gnome-copied-files' "$WORK/cut.log"
# The clipboard's formats on one line, without the transfer's own targets.
offered() {
    clipboard_targets | grep -vx 'TARGETS\|MULTIPLE\|TIMESTAMP\|SAVE_TARGETS' |
        command paste -sd' '
}
cut_comes_back() {
    # Its owner gone, what the clipboard offers next is the paste's.
    sleep 0.4
    kill "$CUT_PID" && wait_exit "$CUT_PID" && hold_key F6 &&
        wait_until eval 'clipboard_targets >/dev/null' || return 1
    local mark
    mark=$(xclip -o -selection clipboard -t application/x-kde-cutselection | od -An -tx1 |
        tr -d ' \n')
    log "  offered: $(offered); cut mark: $mark"
    [ "$(offered)" = "$CUT_FORMATS" ] && [ "$mark" = 3100 ]
}
check "F6 offers the cut's formats alone, in its order, with its mark" cut_comes_back

# An application nobody here wrote.
check "zenity's entry receives a replayed text" zenity_gets F2 beta

finish
