#!/bin/bash
# Sway (wlroots), headless: capture through data-control and pastes through a virtual
# keyboard. A text, an HTML text and a PNG copied by wl-copy fill slots 1 to 3 in order and
# come back byte for byte, in a Qt application on Qt's Wayland platform and on the
# clipboard; the program's own pastes take no slot; a source that stalls costs one timeout,
# one that writes forever is bounded, one that closes early loses only that type, one with
# hundreds of types is cut; when the compositor goes away the program ends cleanly.
. "$(dirname "$0")/lib.sh"

command -v sway >/dev/null || wayland_skip "sway is not installed (scripts/install-deps)"

cat >"$WORK/sway.conf" <<'EOF'
xwayland enable
output HEADLESS-1 resolution 1280x800
default_border none
EOF
chmod 644 "$WORK/sway.conf"
start_user_bg sway env WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway --config "$WORK/sway.conf" || exit 1
SWAY_PID=$BG_PID
wait_wayland_socket || {
    log "sway did not start"
    exit 1
}
sway_ipc() { SWAYSOCK=$(find "$RUNTIME" -maxdepth 1 -name 'sway-ipc.*' -type s | head -n1); }
wait_until sway_ipc || exit 1
# Sway gives the programs it starts the display of its XWayland.
as_user swaymsg exec 'echo "$DISPLAY" >"$XDG_RUNTIME_DIR/xdisplay"' >/dev/null
wait_until test -s "$RUNTIME/xdisplay" || exit 1
XWAYLAND_DISPLAY=$(cat "$RUNTIME/xdisplay")
log "sway on $WAYLAND_DISPLAY_NAME, XWayland on $XWAYLAND_DISPLAY"

start_wayland_tessel || exit 1
TESSEL_WRAPPER=${E2E_PIDS[-2]}
start_receiver || exit 1

# The window is tiled on the left half: what it shows there changes when a slot fills.
# Runs "$@" (a copy) and waits until the window shows a slot more.
tessel_look() { as_user grim -g "0,0 640x800" - 2>/dev/null | md5sum; }
look_changed() { [ "$(tessel_look)" != "$LOOK" ]; }
copy_and_wait() {
    LOOK=$(tessel_look)
    "$@" || return 1
    wait_until look_changed
}

check_copies_and_pastes
screenshot after-pastes

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
        printf 'text/plain\n' >"$WORK/stall-types" && paste_slot 5 &&
        wait_until types_are "$WORK/stall-types" &&
        [ "$(clipboard_bytes text/plain)" = "before the stall" ]
}
check "a stalled source costs one timeout; slot 5 keeps what came before it" stall_costs_one_timeout

many_types() {
    local log="$WORK/many.log"
    : >"$log"
    chown "$WAYLAND_USER" "$log"
    copy_and_wait start_user_bg many "$BIN/testsource" "$log" text/x-early=close \
        'text/plain=text:many' many:300 || return 1
    paste_slot 6 && wait_until eval '[ "$(clipboard_types | head -n1)" = text/plain ]' || return 1
    local count
    count=$(clipboard_types | wc -l)
    log "  types offered back: $count"
    # 256 types are kept; the one closed early is left out.
    [ "$count" -eq 255 ] && [ "$(clipboard_bytes text/x-many-254)" = text/x-many-254 ] &&
        [ "$(clipboard_bytes text/plain)" = many ]
}
check "a source that closes one type early and offers 300 types fills slot 6 without it, cut to 256" \
    many_types

writes_forever() {
    local log="$WORK/forever.log"
    : >"$log"
    chown "$WAYLAND_USER" "$log"
    copy_and_wait start_user_bg forever "$BIN/testsource" "$log" 'text/plain=text:endless' \
        text/x-forever=forever || return 1
    printf 'text/plain\n' >"$WORK/forever-types"
    paste_slot 7 && wait_until types_are "$WORK/forever-types" &&
        [ "$(clipboard_bytes text/plain)" = endless ]
}
check "a source that writes forever is cut at the time limit; slot 7 keeps its text" writes_forever
screenshot bad-sources

check "when the compositor goes away Tessel ends, not by a signal" compositor_gone "$SWAY_PID"

finish
