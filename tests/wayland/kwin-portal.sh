#!/bin/bash
# KWin (Plasma 5.27) with a session bus, xdg-desktop-portal and Plasma's portal: Tessel
# binds F1 to F10 as the desktop's global shortcuts through the GlobalShortcuts portal, and
# an F-key pressed through KWin's fake input (KWin runs it through its shortcuts as a real
# key) pastes its slot into the focused Qt application.
. "$(dirname "$0")/lib.sh"

PORTAL=/usr/libexec/xdg-desktop-portal
PORTAL_KDE=$(sed -n 's/^Exec=//p' /usr/share/dbus-1/services/org.freedesktop.impl.portal.desktop.kde.service 2>/dev/null)
[ -x "$PORTAL" ] || wayland_skip "xdg-desktop-portal is not installed (scripts/install-deps)"
[ -n "$PORTAL_KDE" ] && [ -x "$PORTAL_KDE" ] ||
    wayland_skip "xdg-desktop-portal-kde is not installed (scripts/install-deps)"
command -v dbus-daemon >/dev/null || wayland_skip "dbus-daemon is not installed (scripts/install-deps)"

# The bus first: KWin serves the desktop's shortcuts (kglobalaccel) on it from its start.
start_user_bg bus dbus-daemon --session --nofork --address="unix:path=$RUNTIME/bus" || exit 1
WAYLAND_BUS="unix:path=$RUNTIME/bus"
wait_until test -S "$RUNTIME/bus" || exit 1
WAYLAND_DESKTOP=KDE
start_kwin wayland-portal || exit 1
has_name() {
    as_user dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.ListNames 2>/dev/null | grep -q "\"$1\""
}
wait_until has_name org.kde.kglobalaccel || {
    log "KWin does not serve the desktop's shortcuts on the bus"
    exit 1
}
# Started here rather than by the bus, so that they have the Wayland display and end with
# the test; the same settings folder as KWin's.
start_user_bg portal-kde env QT_QPA_PLATFORM=wayland XDG_CONFIG_HOME="$WORK/config" "$PORTAL_KDE" ||
    exit 1
wait_until has_name org.freedesktop.impl.portal.desktop.kde || exit 1
start_user_bg portal "$PORTAL" || exit 1
offers_shortcuts() {
    as_user dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop \
        /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
        string:org.freedesktop.portal.GlobalShortcuts string:version 2>/dev/null | grep -q uint32
}
check "the portal offers GlobalShortcuts" wait_until offers_shortcuts

start_wayland_tessel || exit 1
start_receiver || exit 1

says_shortcuts() {
    [ "$(grep -c "reach Tessel as the desktop's global shortcuts" "$WORK/tessel.log")" -eq 1 ] &&
        ! grep -q 'key bindings of the desktop' "$WORK/tessel.log"
}
check "the start says once that the F-keys come in as the desktop's global shortcuts" \
    wait_until says_shortcuts

# The desktop holds the shortcuts under Tessel's session, each on its F-key (Qt's key code:
# F1 is 0x01000030).
bound_to_f_keys() {
    local key
    for key in 1 5 10; do
        as_user dbus-send --session --print-reply --dest=org.kde.kglobalaccel /kglobalaccel \
            org.kde.KGlobalAccel.shortcut array:string:tessel,paste-$key,tessel,"Paste slot $key" \
            >"$WORK/shortcut" 2>&1 || return 1
        grep -q "int32 $((0x01000030 + key - 1))\$" "$WORK/shortcut" || {
            log "  paste-$key: $(tr -s ' \n' ' ' <"$WORK/shortcut")"
            return 1
        }
    done
}
check "KWin holds paste-1, paste-5 and paste-10 on F1, F5 and F10" bound_to_f_keys

# Every slot below is pasted by its F-key, pressed as a keyboard would press it.
copy_and_wait() {
    "$@" || return 1
    sleep 1
}
paste_slot() {
    as_user "$BIN/fakekey" $((58 + $1))
}
check_copies_and_pastes

finish
