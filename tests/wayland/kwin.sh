#!/bin/bash
# KWin (Plasma 5.27), headless and without XWayland: capture through data-control, pastes
# through KWin's fake input, and the window on Qt's Wayland platform. KWin offers fake input
# only to a program whose installed .desktop file asks for it, as Tessel's does.
. "$(dirname "$0")/lib.sh"

KWIN=$(command -v kwin_wayland) || wayland_skip "kwin_wayland is not installed (scripts/install-deps)"
[ -e /usr/lib/x86_64-linux-gnu/qt5/plugins/platforms/libqwayland-generic.so ] ||
    [ -n "$(find /usr/lib -path '*qt5/plugins/platforms/libqwayland-generic.so' -print -quit)" ] ||
    wayland_skip "Qt's Wayland platform (qtwayland5) is not installed"

# Its file capabilities make exec fail in a container; a copy has none. KWin tells itself
# apart by the end of its name.
cp "$KWIN" "$BIN/kwin_wayland"
# KWin finds the .desktop file of a client by the program its Exec line names.
mkdir -p "$WORK/data/applications" "$WORK/cache"
sed "s|^Exec=.*|Exec=$TESSEL_BIN|" "$(dirname "$0")/../../resources/tessel.desktop" \
    >"$WORK/data/applications/tessel.desktop"
chown -R "$WAYLAND_USER" "$WORK/data" "$WORK/cache"
start_user_bg kwin env XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache" \
    "$BIN/kwin_wayland" --virtual --no-lockscreen --no-global-shortcuts --socket wayland-tessel ||
    exit 1
KWIN_PID=$BG_PID
wait_wayland_socket || {
    log "KWin did not start"
    exit 1
}
log "KWin on $WAYLAND_DISPLAY_NAME"

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
