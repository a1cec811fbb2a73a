#!/bin/bash
# KWin (Plasma 5.27), headless and without XWayland: capture through data-control, pastes
# through KWin's fake input, and the window on Qt's Wayland platform. KWin offers fake input
# only to a program whose installed .desktop file asks for it, as Tessel's does.
. "$(dirname "$0")/lib.sh"

start_kwin wayland-tessel --no-global-shortcuts || exit 1

start_wayland_tessel || exit 1
TESSEL_WRAPPER=${E2E_PIDS[-2]}
start_receiver || exit 1

# KWin lets no program look at the screen, so nothing shows when Tessel has read a copy:
# reads of these few bytes take milliseconds, and the pastes tell whether they were made.
copy_and_wait() {
    "$@" || return 1
    sleep 1
}
check_copies_and_pastes

# Without a session bus there is no portal to ask: the desktop's key bindings are the way,
# and the start says so once.
says_bindings() {
    [ "$(grep -c 'key bindings of the desktop that run tessel --paste N' "$WORK/tessel.log")" -eq 1 ] &&
        ! grep -q 'global shortcuts' "$WORK/tessel.log"
}
check "without a session bus the start names the desktop's key bindings, once" says_bindings

# A program KWin's .desktop files do not name may not type: it falls back to X11, and says
# why before it says that there is no X display either.
falls_back() {
    mkdir -p "$BIN/elsewhere"
    cp "$TESSEL_BIN" "$BIN/elsewhere/"
    as_user "$BIN/elsewhere/$(basename "$TESSEL_BIN")" >"$WORK/elsewhere.log" 2>&1
    local status=$?
    log "  $(tr '\n' ' ' <"$WORK/elsewhere.log")"
    [ "$status" -eq 1 ] && grep -q 'lets no program type' "$WORK/elsewhere.log" &&
        grep -q 'no X display' "$WORK/elsewhere.log"
}
check "a copy that KWin does not let type falls back to X11 and says why" falls_back

check "when the compositor goes away Tessel ends, not by a signal" compositor_gone "$KWIN_PID"

finish
