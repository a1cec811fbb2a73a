#!/bin/bash
# The real tessel.exe of the cross build, staged with its DLLs, under Wine on a private Xvfb
# display with openbox: its window, slots for a text and an image copied on the X side,
# F-keys pasting into a Windows program that has the focus (Wine delivers a registered
# hotkey only then), a Windows program's formats pasted back under their own names, a paste
# while a capture waits on an owner that hangs, a key another program holds, and a clean
# exit that releases the keys.
# Inputs: WIN_BUILD (the cross build), TITLE (the window's title), E2E_ARTIFACTS.
: "${WIN_BUILD:?the Windows build folder}" "${TITLE:?the window title}"
TESSEL="$WIN_BUILD/stage/tessel.exe"
TARGET="$WIN_BUILD/tests/pastetarget.exe"
# A Wine program takes a few seconds to show its first window on a busy machine.
E2E_TIMEOUT=${E2E_TIMEOUT:-30}
. "$(dirname "$0")/../e2e/lib.sh"
. "$(dirname "$0")/wine.sh"
trap 'status=$?; wine_stop; (exit $status); cleanup' EXIT

start_x
wine_prefix "$WIN_BUILD/wineprefix" || exit 1
# A server left by the unit tests serves no display.
wine_stop

# The paste target, a Windows program, holds F5 as another hotkey program would.
LOG="$WORK/target.log"
: >"$LOG"
start_bg target "$WINE" "$TARGET" record "$(winpath "$LOG")" F5
check "another Windows program holds F5" wait_until grep -qx "held F5" "$LOG"

start_bg tessel "$WINE" "$TESSEL"
TESSEL_PID=$BG_PID

one_error_box() {
    wait_window error || return 1
    BOX=$WINDOW
    screenshot error-box
    activate "$BOX" && xdotool key Return || return 1
    wait_window "$TITLE" || return 1
    TESSEL_WIN=$WINDOW
    # All warnings come before the window: once it is up, no second box can follow.
    [ -z "$(window_named error)" ]
}
check "one box titled \"error\", then the window opens" one_error_box
[ -n "${TESSEL_WIN:-}" ] || exit 1
xdotool windowmove --sync "$TESSEL_WIN" 20 40 >/dev/null 2>&1

window_looks_right() {
    local size icon
    size=$(xwininfo -id "$TESSEL_WIN" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
    # Wine gives X the window's icon: IDI_ICON1 from the resource script, 32x32.
    icon=$(xprop -id "$TESSEL_WIN" _NET_WM_ICON | grep -m1 -o 'Icon ([0-9]* x [0-9]*)')
    log "  size $size, $icon"
    [ "$size" = 550x420 ] && [ "$icon" = "Icon (32 x 32)" ]
}
check "the window titled \"$TITLE\" is 550x420 with its icon" window_looks_right

convert -size 32x16 xc:'#ff00ff' "$WORK/magenta.png"
check "a text copied with xclip is captured" copy_text "one;"
check "a second text" copy_text "two;"
check "a PNG copied with xclip is captured" copy_file image/png "$WORK/magenta.png"
screenshot window

rows_drawn() {
    local box red
    window_origin "$TESSEL_WIN"
    convert "$LAST_SHOT" -crop "550x420+$WIN_X+$WIN_Y" +repage "$WORK/window.png" || return 1
    # The 32x16 image scaled to a 128 high preview, shown within the table's 128x128 icons.
    box=$(convert "$WORK/window.png" -fill black +opaque '#ff00ff' -trim -format '%wx%h' info:)
    # The delete cells of the three rows show the red X, icon 4 of the resource script.
    red=$(convert "$WORK/window.png" -fill black +opaque '#ff0000' -fill white -opaque '#ff0000' \
        -format '%[fx:int(mean*w*h)]' info:)
    log "  preview on screen: $box; red pixels: $red"
    [ "$box" = 128x64 ] && [ "$red" -gt 100 ]
}
check "the image row shows its 128-pixel preview, the filled rows the red X" rows_drawn

wait_window pastetarget || exit 1
TARGET_WIN=$WINDOW
activate "$TARGET_WIN" || exit 1
target_text() { sed -n 's/^text //p' "$LOG" | tail -n1; }
pastes() {
    EXPECTED=$2
    hold_key "$1"
    wait_until eval '[ "$(target_text)" = "$EXPECTED" ]' || {
        log "  the target has '$(target_text)', expected '$EXPECTED'"
        return 1
    }
}
check "F2 pastes slot 2 into the focused Windows program" pastes F2 "two;"
check "then F1 pastes slot 1 after it" pastes F1 "two;one;"
modifiers_ignored() {
    # Had either taken slot 1, "one;" would come before the F2 paste.
    xdotool key ctrl+F1 shift+F1 && pastes F2 "two;one;two;"
}
check "Ctrl+F1 and Shift+F1 paste nothing" modifiers_ignored

# What the system puts on any clipboard besides what a program sets: Windows' other forms of
# a text and of a bitmap, and OLE's own records of a copy made through it (as Qt's is).
SYSTEM_FORMATS=(CF_TEXT CF_OEMTEXT CF_LOCALE CF_BITMAP CF_DIBV5 'Ole Private Data'
    'Wine Marshalled DataObject' DataObject)
list_clipboard() {
    : >"$WORK/formats.log"
    "$WINE" "$TARGET" formats "$(winpath "$WORK/formats.log")" || return 1
    log "  the clipboard holds: $(sed -n 's/^format //p' "$WORK/formats.log" | paste -sd '|')"
    log "  $(grep -v '^format ' "$WORK/formats.log" | paste -sd '|')"
}
# The clipboard's formats, in order, but the system's.
own_formats() {
    sed -n 's/^format //p' "$WORK/formats.log" | grep -vxF "${SYSTEM_FORMATS[@]/#/-e}" |
        paste -sd '|'
}

# A Windows program's copy in five formats, three of which Qt reads under wrapped names of
# its own (application/x-qt-windows-mime;value="PNG") and one, PNG, also as an image: its
# slot's F-key puts each back under its own name with its bytes, in the copy's order, and
# no other.
formats_come_back() {
    wait_window_still "$TESSEL_WIN" && "$WINE" "$TARGET" copy &&
        wait_until window_changed "$TESSEL_WIN" && pastes F4 "two;one;two;formats;" &&
        list_clipboard || return 1
    [ "$(grep -c '^same ' "$WORK/formats.log")" -eq 5 ] &&
        [ "$(own_formats)" = "CF_UNICODETEXT|Rich Text Format|HTML Format|PNG|Tessel Test Private" ]
}
check "F4 offers a Windows program's formats back under their own names, with their bytes" \
    formats_come_back

# A capture in progress holds up no paste: an X owner that never answers keeps the capture
# worker waiting, through Wine's clipboard bridge, while F1 pastes. The paste still waits
# for the bridge to give up on the read it was asked for (its emptying of the clipboard is
# sent to the bridge), up to a second on a busy machine for each X target that may give the
# format: the owner offers no text, which the bridge would try under four targets.
start_bg hang "${HOSTILEOWNER:?path of the fakeowner binary}" hang-private 3
HANG_PID=$BG_PID
hung_capture_pastes() {
    wait_until grep -q '^asked' "$WORK/hang.log" &&
        TIMEOUT=3 pastes F1 "two;one;two;formats;one;"
}
check "while a capture waits on an owner that hangs, F1 pastes at once" hung_capture_pastes
kill "$HANG_PID"
check "F5 reaches the program that holds it" eval 'hold_key F5 && wait_until grep -qx "hotkey 116" "$LOG"'

refused() {
    : >"$WORK/probe.log"
    "$WINE" "$TARGET" probe "$(winpath "$WORK/probe.log")" || return 1
    log "  another program: $(cat "$WORK/probe.log")"
    [ "$(tr -d '\r\n' <"$WORK/probe.log")" = "refused$1" ]
}
check "while Tessel runs no other program can take F1 to F10" \
    refused " F1 F2 F3 F4 F5 F6 F7 F8 F9 F10"

closed_cleanly() {
    wm_close "$TESSEL_WIN" && wait_exit "$TESSEL_PID" || return 1
    log "  exit status: $EXIT_STATUS"
    [ "$EXIT_STATUS" -eq 0 ]
}
check "closing the window ends Tessel with status 0" closed_cleanly
check "then every key but F5, which the target holds, is free" refused " F5"

# What the box says, from a second start: Ctrl+C in a Qt message box copies its title and
# text, which Wine hands to X. Not in the first run: X copies after it reach Tessel twice
# under Wine when its own box owned the clipboard.
box_text() { xclip -o -selection clipboard 2>/dev/null | tr -d '\r' | grep -v -- ---; }
box_says() {
    start_bg tessel2 "$WINE" "$TESSEL"
    TESSEL_PID=$BG_PID
    wait_window error || return 1
    activate "$WINDOW" && xdotool key ctrl+c &&
        wait_until eval 'box_text | grep -q "^Can not register"' || return 1
    log "  the box says: $(box_text | tr '\n' '|')"
    [ "$(box_text | head -n2 | tr '\n' '|')" = "error|Can not register F5.|" ] || return 1
    xdotool key Return
    wait_window "$TITLE" && wm_close "$WINDOW" && wait_exit "$TESSEL_PID"
}
check "the box says \"Can not register F5.\"" box_says

finish
