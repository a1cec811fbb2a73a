#!/bin/bash
# Sway (wlroots), headless: capture through data-control and pastes through a virtual
# keyboard. A text, an HTML text and a PNG copied by wl-copy fill slots 1 to 3 in order and
# come back byte for byte, in a Qt application on Qt's Wayland platform and on the
# clipboard; the program's own pastes take no slot; a source that stalls costs one timeout,
# one that writes forever is bounded, one that closes early loses only that type, one with
# hundreds of types is cut; a text copied in a GTK program (zenity) comes back byte for byte
# with GTK's types in GTK's order; a paste into foot gives its program Ctrl+V, not the text
# (a known limit); when the compositor goes away the program ends cleanly.
. "$(dirname "$0")/lib.sh"

command -v sway >/dev/null || wayland_skip "sway is not installed (scripts/install-deps)"

cat >"$WORK/sway.conf" <<'EOF'
xwayland enable
output HEADLESS-1 resolution 1280x800
default_border none
# The copying Qt application, GTK's dialog and foot float clear of Tessel's window, which
# stays on the left half.
for_window [title="^copyapp$"] floating enable, resize set 200 100, move position 1000 650
for_window [app_id="^zenity$"] floating enable, move position 700 50
for_window [app_id="^foot$"] floating enable, resize set 400 200, move position 700 400
EOF
start_sway "$WORK/sway.conf" || exit 1
log "sway on $WAYLAND_DISPLAY_NAME, XWayland on $XWAYLAND_DISPLAY"

# The window is tiled on the left half: what it shows there changes when a slot fills.
# Runs "$@" (a copy) and waits until the window shows a slot more.
tessel_look() { as_user grim -g "0,0 640x800" - 2>/dev/null | md5sum; }
look_changed() { [ "$(tessel_look)" != "$LOOK" ]; }
copy_and_wait() {
    LOOK=$(tessel_look)
    "$@" || return 1
    wait_until look_changed
}
# Whether sway shows a window whose $2 (app_id where not given) is $1; sway gives the
# keyboard focus to a new window once it is mapped.
window_shown() { as_user swaymsg -t get_tree | grep -q "\"${2:-app_id}\": \"$1\""; }

# Tessel's worker starts before its window is drawn. The window must be mapped before the
# receiver's, which then has the focus, and be still before a copy is judged by its look: it
# is drawn again as it moves to the left half and as the focus leaves it.
drawn() {
    window_shown tessel class || return 1
    LOOK=$(tessel_look)
    sleep 0.5
    [ "$(tessel_look)" = "$LOOK" ] || return 1
    sleep 0.5
    [ "$(tessel_look)" = "$LOOK" ]
}
start_wayland_tessel && wait_until drawn || exit 1
TESSEL_WRAPPER=${E2E_PIDS[-2]}
start_receiver && wait_until drawn || exit 1

check_copies_and_pastes
screenshot after-pastes

# The Qt application copies when it gets a key: slot 1's paste, which takes no slot itself.
qt_copy() {
    start_user_bg copyapp env QT_QPA_PLATFORM=wayland "$BIN/$(basename "$COPYAPP")" \
        'plain words' '<p>rich <b>words</b></p>' || return 1
    COPYAPP_PID=$BG_PID
    wait_until grep -q '^active' "$WORK/copyapp.log" && copy_and_wait paste_slot 1 &&
        grep -q '^copied' "$WORK/copyapp.log"
}
check "a text with its HTML copied by a focused Qt application fills slot 5" qt_copy
pastes_qt_copy() {
    paste_slot 5 && wait_until eval '[ "$(clipboard_bytes text/html)" = "<p>rich <b>words</b></p>" ]' &&
        [ "$(clipboard_bytes text/plain)" = "plain words" ]
}
check "slot 5 puts the Qt application's HTML and text back byte for byte" pastes_qt_copy
# Its clipboard goes with it: the emptied clipboard takes no slot, so the next copy is 6.
kill "$COPYAPP_PID"

# A source that never writes one type: that type costs one timeout, the types after it are
# not asked for, and no later worker asks again.
stall_costs_one_timeout() {
    local log="$WORK/stall.log"
    : >"$log"
    chown "$WAYLAND_USER" "$log"
    copy_and_wait start_user_bg stall "$BIN/testsource" "$log" 'text/plain=text:before the stall' \
        text/x-stall=stall 'text/x-after=text:after' || return 1
    # A new worker, had it read the copy again, would have asked within this time.
    sleep 3
    log "  requests: $(tr '\n' ' ' <"$log")"
    [ "$(grep -c '^send text/x-stall$' "$log")" -eq 1 ] && ! grep -q 'x-after' "$log" &&
        printf 'text/plain\n' >"$WORK/stall-types" && paste_slot 6 &&
        wait_until types_are "$WORK/stall-types" &&
        [ "$(clipboard_bytes text/plain)" = "before the stall" ]
}
check "a stalled source costs one timeout; slot 6 keeps what came before it" stall_costs_one_timeout

many_types() {
    local log="$WORK/many.log"
    : >"$log"
    chown "$WAYLAND_USER" "$log"
    copy_and_wait start_user_bg many "$BIN/testsource" "$log" text/x-early=close \
        'text/plain=text:many' many:300 || return 1
    paste_slot 7 && wait_until eval '[ "$(clipboard_types | head -n1)" = text/plain ]' || return 1
    local count
    count=$(clipboard_types | wc -l)
    log "  types offered back: $count"
    # 256 types are kept; the one closed early is left out.
    [ "$count" -eq 255 ] && [ "$(clipboard_bytes text/x-many-254)" = text/x-many-254 ] &&
        [ "$(clipboard_bytes text/plain)" = many ]
}
check "a source that closes one type early and offers 300 types fills slot 7 without it, cut to 256" \
    many_types

writes_forever() {
    local log="$WORK/forever.log"
    : >"$log"
    chown "$WAYLAND_USER" "$log"
    copy_and_wait start_user_bg forever "$BIN/testsource" "$log" 'text/plain=text:endless' \
        text/x-forever=forever || return 1
    printf 'text/plain\n' >"$WORK/forever-types"
    paste_slot 8 && wait_until types_are "$WORK/forever-types" &&
        [ "$(clipboard_bytes text/plain)" = endless ]
}
check "a source that writes forever is cut at the time limit; slot 8 keeps its text" writes_forever
screenshot bad-sources

# A GTK 3 program on GTK's Wayland backend as the source: a text typed into zenity's entry,
# selected and copied with its keys, fills slot 9 with GTK's types in GTK's order.
printf 'GTK words: na\xc3\xafve caf\xc3\xa9 & <tags>' >"$WORK/gtk-text"
gtk_copy() {
    start_user_bg zenity env GDK_BACKEND=wayland NO_AT_BRIDGE=1 zenity --entry --title=gtk-source \
        --text=source || return 1
    ZENITY_PID=$BG_PID
    wait_until window_shown zenity || return 1
    # The seat has no keyboard until wtype's virtual one appears: a pause before the first
    # key. GTK 3 ignores the highest keycode of wtype's keymap: a last key (End) takes it.
    as_user wtype -s 500 -d 10 "$(cat "$WORK/gtk-text")" -k End || return 1
    copy_and_wait as_user wtype -M ctrl a -m ctrl -s 100 -M ctrl c -m ctrl -s 100 -k End || return 1
    clipboard_types >"$WORK/gtk-offers"
    log "  GTK offers: $(tr '\n' ' ' <"$WORK/gtk-offers")"
    # Kept are GTK's types in its order, less the X11 protocol's SAVE_TARGETS and those GTK
    # gives nothing for (the README's rules).
    local type
    : >"$WORK/gtk-types"
    while read -r type; do
        [ "$type" != SAVE_TARGETS ] && [ -n "$(clipboard_bytes "$type" | head -c1 | od -An -tx1)" ] &&
            echo "$type" >>"$WORK/gtk-types"
    done <"$WORK/gtk-offers"
    log "  kept of them: $(tr '\n' ' ' <"$WORK/gtk-types")"
    [ "$(head -n2 "$WORK/gtk-types")" = "$(printf 'text/plain;charset=utf-8\nUTF8_STRING')" ] &&
        bytes_are 'text/plain;charset=utf-8' "$WORK/gtk-text"
}
check "a text typed, selected and copied in GTK's entry on Wayland fills slot 9" gtk_copy
screenshot gtk-copy
# Its clipboard goes with it, so what is offered next is Tessel's alone.
kill "$ZENITY_PID"
pastes_gtk_copy() {
    paste_slot 9 && wait_until types_are "$WORK/gtk-types" &&
        bytes_are 'text/plain;charset=utf-8' "$WORK/gtk-text" && bytes_are UTF8_STRING "$WORK/gtk-text"
}
check "slot 9 puts GTK's text back byte for byte, with GTK's types in GTK's order" pastes_gtk_copy

# foot pastes on Ctrl+Shift+V: the Ctrl+V of a paste reaches the program in foot as the
# control character 0x16 (seen raw, not as the terminal's literal-next), and the slot is
# left on the clipboard, where foot's own paste key takes it.
foot_receiver() {
    local out="$WORK/foot.out" ready="$WORK/foot.ready"
    command -v foot >/dev/null || {
        log "  foot is not installed (scripts/install-deps)"
        return 1
    }
    : >"$out"
    chown "$WAYLAND_USER" "$out"
    start_user_bg foot foot sh -c 'stty raw -echo && touch "$0" && exec cat >"$1"' "$ready" "$out" ||
        return 1
    FOOT_PID=$BG_PID
    wait_until window_shown foot && wait_until test -e "$ready" || return 1
    only_ctrl_v() { [ "$(od -An -tx1 "$out" | tr -d ' \n')" = 16 ]; }
    paste_slot 9 && wait_until only_ctrl_v || return 1
    # Nothing more comes, the slot stays on the clipboard, and Tessel runs on.
    sleep 0.5
    only_ctrl_v && bytes_are 'text/plain;charset=utf-8' "$WORK/gtk-text" && kill -0 "$TESSEL_PID" ||
        return 1
    as_user wtype -s 200 -M ctrl -M shift -k v -m shift -m ctrl &&
        wait_until cmp -s "$out" <(printf '\x16'; cat "$WORK/gtk-text")
}
check "a paste into foot gives its program Ctrl+V (0x16), not the text; Ctrl+Shift+V then pastes it" \
    foot_receiver
screenshot foot
kill "$FOOT_PID"

check "when the compositor goes away Tessel ends, not by a signal" compositor_gone "$SWAY_PID"

finish
