# Shared harness of the Wayland tests, sourced by each test script, on top of the
# end-to-end harness (logging, checks, clean-up).
#
# A compositor will not run as root, so everything Wayland runs as an unprivileged user of
# its own, made here when missing, with a private XDG_RUNTIME_DIR. The program and its test
# helpers are copied where that user can run them. Exits 77 (skipped) with one line when
# what the test needs cannot be had.
#
# Inputs (set by ctest): TESSEL, FOCUSAPP, TESTSOURCE, COPYAPP, FAKEKEY (binaries),
# E2E_ARTIFACTS (folder).

wayland_skip() {
    echo "SKIP: $*"
    exit 77
}

[ "$(id -u)" -eq 0 ] || wayland_skip "runs as root, to start the compositor as a user of its own"
for tool in runuser useradd wl-copy wl-paste grim; do
    command -v "$tool" >/dev/null || wayland_skip "$tool is not installed (scripts/install-deps)"
done

. "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"

WAYLAND_USER=tessel-wayland
id "$WAYLAND_USER" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$WAYLAND_USER" ||
    wayland_skip "cannot make the user $WAYLAND_USER"
chown "$WAYLAND_USER" "$WORK"
chmod 711 "$WORK"
RUNTIME="$WORK/run"
BIN="$WORK/bin"
mkdir -p "$RUNTIME" "$BIN"
chown "$WAYLAND_USER" "$RUNTIME"
chmod 700 "$RUNTIME"
cp "$TESSEL" "$FOCUSAPP" "$TESTSOURCE" "$COPYAPP" "$FAKEKEY" "$BIN/"
chmod 755 "$BIN" "$BIN"/*
TESSEL_BIN="$BIN/$(basename "$TESSEL")"
WAYLAND_DISPLAY_NAME=""
XWAYLAND_DISPLAY=""

# Runs "$@" as the test user in the Wayland session, its output in the test's folder; with
# the session bus at $WAYLAND_BUS and the desktop named $WAYLAND_DESKTOP where they are set.
as_user() {
    runuser -u "$WAYLAND_USER" -- env -i HOME="$(getent passwd "$WAYLAND_USER" | cut -d: -f6)" \
        PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="$RUNTIME" \
        ${WAYLAND_DISPLAY_NAME:+WAYLAND_DISPLAY="$WAYLAND_DISPLAY_NAME"} \
        ${XWAYLAND_DISPLAY:+DISPLAY="$XWAYLAND_DISPLAY"} \
        ${SWAYSOCK:+SWAYSOCK="$SWAYSOCK"} ${QT_QPA_PLATFORM:+QT_QPA_PLATFORM="$QT_QPA_PLATFORM"} \
        ${WAYLAND_BUS:+DBUS_SESSION_BUS_ADDRESS="$WAYLAND_BUS"} \
        ${WAYLAND_DESKTOP:+XDG_CURRENT_DESKTOP="$WAYLAND_DESKTOP"} \
        ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
        ${LSAN_OPTIONS:+LSAN_OPTIONS="$LSAN_OPTIONS"} "$@"
}

# Starts "$@" as the test user in the background, its output in $WORK/<name>.log; its
# process id (that of the program itself, not of runuser) is left in $BG_PID and it is
# ended on exit.
start_user_bg() {
    local name=$1 pidfile="$WORK/$1.pid"
    shift
    : >"$WORK/$name.log"
    chown "$WAYLAND_USER" "$WORK/$name.log"
    rm -f "$pidfile"
    as_user sh -c 'echo $$ >"$0"; log=$1; shift; exec "$@" >>"$log" 2>&1' "$pidfile" "$WORK/$name.log" "$@" &
    E2E_PIDS+=("$!")
    TIMEOUT=5 wait_until test -s "$pidfile" || return 1
    BG_PID=$(cat "$pidfile")
    E2E_PIDS+=("$BG_PID")
}

# Waits for the compositor's socket in the runtime folder and exports its name.
wait_wayland_socket() {
    local socket
    socket_there() {
        socket=$(find "$RUNTIME" -maxdepth 1 -name 'wayland-*' -type s | head -n1)
        [ -n "$socket" ]
    }
    wait_until socket_there || return 1
    WAYLAND_DISPLAY_NAME=$(basename "$socket")
}

# Starts headless sway as the test user with configuration file $1 (which enables XWayland)
# and waits for its sockets and XWayland: SWAY_PID, SWAYSOCK and XWAYLAND_DISPLAY are set.
start_sway() {
    chmod 644 "$1"
    start_user_bg sway env WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        sway --config "$1" || return 1
    SWAY_PID=$BG_PID
    wait_wayland_socket || {
        log "sway did not start"
        return 1
    }
    sway_ipc() { SWAYSOCK=$(find "$RUNTIME" -maxdepth 1 -name 'sway-ipc.*' -type s | head -n1); }
    wait_until sway_ipc || return 1
    # Sway gives the programs it starts the display of its XWayland.
    as_user swaymsg exec 'echo "$DISPLAY" >"$XDG_RUNTIME_DIR/xdisplay"' >/dev/null
    wait_until test -s "$RUNTIME/xdisplay" || return 1
    XWAYLAND_DISPLAY=$(cat "$RUNTIME/xdisplay")
}

screenshot() {
    SHOTS=$((SHOTS + 1))
    local file
    file="$WORK/shot.png"
    as_user grim "$file" 2>/dev/null || return 0
    LAST_SHOT="$ARTIFACTS/$(printf '%02d' "$SHOTS")-$1.png"
    mv "$file" "$LAST_SHOT" && log "  screenshot: $LAST_SHOT"
}

# The receiving Qt application, on Qt's Wayland platform, with the keyboard focus: the
# compositor gives it to the newest window.
start_receiver() {
    FOCUS_LOG="$WORK/focus-events.log"
    : >"$FOCUS_LOG"
    chown "$WAYLAND_USER" "$FOCUS_LOG"
    QT_QPA_PLATFORM=wayland start_user_bg focusapp "$BIN/$(basename "$FOCUSAPP")" focusapp \
        "$FOCUS_LOG" || return 1
    FOCUS_PID=$BG_PID
    wait_until grep -q "^ready" "$FOCUS_LOG"
}

# Tessel with its window on XWayland, where the compositor runs one.
start_wayland_tessel() {
    start_user_bg tessel "$TESSEL_BIN" || return 1
    TESSEL_PID=$BG_PID
    # Its worker has started once the window's process has it as a child: neither need be
    # ready yet, nor the window drawn.
    worker_up() { pgrep -P "$TESSEL_PID" >/dev/null; }
    wait_until worker_up
}

# KWin (Plasma 5.27), headless, without XWayland, on the socket $1, with the further
# arguments; its process id in $KWIN_PID. Skips where KWin or Qt's Wayland platform is not
# installed. KWin offers fake input only to a program whose installed .desktop file asks for
# it, and finds that file by the program its Exec line names: Tessel's and fakekey's are
# installed in the test's own data folder.
start_kwin() {
    local kwin socket=$1
    shift
    kwin=$(command -v kwin_wayland) || wayland_skip "kwin_wayland is not installed (scripts/install-deps)"
    [ -n "$(find /usr/lib -path '*qt5/plugins/platforms/libqwayland-generic.so' -print -quit)" ] ||
        wayland_skip "Qt's Wayland platform (qtwayland5) is not installed"
    # Its file capabilities make exec fail in a container; a copy has none. KWin tells itself
    # apart by the end of its name.
    cp "$kwin" "$BIN/kwin_wayland"
    mkdir -p "$WORK/data/applications" "$WORK/cache"
    sed "s|^Exec=.*|Exec=$TESSEL_BIN|" "$(dirname "${BASH_SOURCE[0]}")/../../resources/tessel.desktop" \
        >"$WORK/data/applications/tessel.desktop"
    printf '[Desktop Entry]\nType=Application\nName=fakekey\nExec=%s\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n' \
        "$BIN/fakekey" >"$WORK/data/applications/fakekey.desktop"
    chown -R "$WAYLAND_USER" "$WORK/data" "$WORK/cache"
    mkdir -p "$WORK/config"
    chown "$WAYLAND_USER" "$WORK/config"
    start_user_bg kwin env XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache" \
        XDG_CONFIG_HOME="$WORK/config" \
        "$BIN/kwin_wayland" --virtual --no-lockscreen --socket "$socket" "$@" || return 1
    KWIN_PID=$BG_PID
    wait_wayland_socket || {
        log "KWin did not start"
        return 1
    }
    log "KWin on $WAYLAND_DISPLAY_NAME"
}

# Copies stdin as MIME type $1 with wl-copy, which stays the owner until another takes over.
wl_copy() {
    as_user wl-copy --type "$1"
}

# What the clipboard offers now, one type a line.
clipboard_types() { as_user wl-paste --list-types 2>/dev/null; }

# The clipboard's bytes as type $1.
clipboard_bytes() { as_user wl-paste --no-newline --type "$1" 2>/dev/null; }

# Pastes slot $1 as its F-key does, through tessel --paste.
paste_slot() {
    as_user "$TESSEL_BIN" --paste "$1"
}

# The clipboard offers exactly the types in file $1, in its order.
types_are() { [ "$(clipboard_types)" = "$(cat "$1")" ]; }

# The clipboard holds exactly the bytes of file $2 as type $1.
bytes_are() { cmp -s <(clipboard_bytes "$1") "$2"; }

received() { [ "$(sed -n 's/^text //p' "$FOCUS_LOG" | tail -n1)" = "$1" ]; }

# What every compositor must do: a text, an HTML text and a PNG copied with wl-copy fill
# slots 1 to 3; each comes back byte for byte, pasted into the receiver and on the
# clipboard with the source's types; the pastes take no slot, so the next copy is slot 4.
# The script defines copy_and_wait: runs "$@" (a copy) and waits until Tessel has it.
check_copies_and_pastes() {
    printf 'first text' >"$WORK/text"
    printf '<b>bold</b> &amp; <i>rich</i>' >"$WORK/html"
    convert -size 32x16 xc:'#ff00ff' "$WORK/magenta.png"
    check "a text copied with wl-copy fills slot 1" copy_and_wait wl_copy text/plain <"$WORK/text"
    check "an HTML text copied with wl-copy fills slot 2" \
        copy_and_wait wl_copy text/html <"$WORK/html"
    check "a PNG copied with wl-copy fills slot 3" \
        copy_and_wait wl_copy image/png <"$WORK/magenta.png"
    screenshot three-slots

    pastes_text() {
        paste_slot 1 && wait_until received "first text" && bytes_are text/plain "$WORK/text"
    }
    check "slot 1 pastes the text into the Qt application, byte for byte" pastes_text

    printf 'text/html\ntext/plain\ntext/plain;charset=utf-8\nTEXT\nSTRING\nUTF8_STRING\n' \
        >"$WORK/html-types"
    pastes_html() {
        paste_slot 2 && wait_until received "first text$(cat "$WORK/html")" &&
            types_are "$WORK/html-types" && bytes_are text/html "$WORK/html"
    }
    check "slot 2 pastes the HTML text, offering wl-copy's types in its order, byte for byte" \
        pastes_html

    printf 'image/png\n' >"$WORK/png-types"
    pastes_png() {
        paste_slot 3 && wait_until types_are "$WORK/png-types" &&
            bytes_are image/png "$WORK/magenta.png"
    }
    check "slot 3 puts the PNG back on the clipboard byte for byte, as image/png alone" pastes_png

    printf 'fourth' >"$WORK/fourth"
    own_not_captured() {
        copy_and_wait wl_copy text/plain <"$WORK/fourth" && paste_slot 4 &&
            wait_until received "first text$(cat "$WORK/html")fourth"
    }
    check "the program's own pastes took no slot: the next copy is slot 4" own_not_captured
}

# Ends the compositor (process $1): Tessel, started through runuser as $TESSEL_WRAPPER, must
# end within the time limit, with a status of its own rather than killed by a signal.
compositor_gone() {
    kill "$1"
    wait_exit "$TESSEL_WRAPPER" || return 1
    log "  Tessel's exit status: $EXIT_STATUS"
    [ "$EXIT_STATUS" -lt 128 ]
}
