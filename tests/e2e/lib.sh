# Shared harness of the end-to-end tests, sourced by each test script.
#
# Starts a private Xvfb (with -noreset, so the keymap survives clients coming and going) and
# openbox, runs the real tessel binary and the helper applications on it, and removes
# everything on exit. Screenshots and logs go to $E2E_ARTIFACTS/<test>/.
#
# Inputs (set by ctest): TESSEL, FOCUSAPP, GRABKEY (binaries), E2E_ARTIFACTS (folder);
# scripts/demo drives the same harness with TESSEL alone.
# Optional: E2E_DISPLAYS, a list of display numbers to try instead of letting Xvfb pick the
# first free one (useful on a machine where other X servers come and go).

set -u -o pipefail
# These tests are X11's: run from a Wayland desktop, Tessel would take that one instead.
unset WAYLAND_DISPLAY

: "${TESSEL:?path of the tessel binary}"
# The window's title carries the version the build was made with.
TESSEL_TITLE=${TESSEL_TITLE:-$(sed -n 's/^project(Tessel VERSION \([0-9.]*\).*/Tessel V\1/p' \
    "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt")}

E2E_NAME=${E2E_NAME:-$(basename "$0" .sh)}
ARTIFACTS="${E2E_ARTIFACTS:-$PWD/artifacts}/$E2E_NAME"
rm -rf "$ARTIFACTS"
mkdir -p "$ARTIFACTS"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tessel-e2e.XXXXXX")

# Generous, since the machine may be busy; only a failing check waits this long.
TIMEOUT=${E2E_TIMEOUT:-15}
# For a key that must be held while the program reacts (the active-grab case).
HOLD=0.15

E2E_PIDS=()
PASSED=0
FAILED=0
SHOTS=0

log() { printf '%5.1fs %s\n' "$(($(date +%s%N) / 100000000 - E2E_START))e-1" "$*"; }
E2E_START=$(($(date +%s%N) / 100000000))

cleanup() {
    local status=$? i pid
    trap - EXIT INT TERM
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        kill "${E2E_PIDS[i]}" 2>/dev/null
    done
    for pid in "${E2E_PIDS[@]}"; do
        for i in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null
    done
    wait 2>/dev/null
    cp "$WORK"/*.log "$ARTIFACTS"/ 2>/dev/null
    rm -rf "$WORK"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Past this many seconds a script gives up at its next wait, with its clean-up, before
# ctest would kill it without (TIMEOUT in CMakeLists.txt).
DEADLINE=${E2E_DEADLINE:-240}

# Starts a command in the background with its output in $WORK/<name>.log; its process id
# is left in $BG_PID and it is killed on exit.
start_bg() {
    local name=$1
    shift
    "$@" >"$WORK/$name.log" 2>&1 &
    BG_PID=$!
    E2E_PIDS+=("$BG_PID")
}

# Microseconds since the epoch. SECONDS counts whole seconds: a wait of 1 s measured with it
# could end at the next tick, a few milliseconds later.
now_us() { echo "${EPOCHREALTIME//[.,]/}"; }

# Runs "$@" until it succeeds or $TIMEOUT seconds have passed.
wait_until() {
    local deadline=$(($(now_us) + TIMEOUT * 1000000))
    if ((SECONDS >= DEADLINE)); then
        log "not ok - the test ran for more than $DEADLINE s; giving up"
        exit 1
    fi
    while ! "$@"; do
        (($(now_us) >= deadline)) && return 1
        sleep 0.05
    done
}

# Waits until process $1 has exited and leaves its status in $EXIT_STATUS.
wait_exit() {
    local pid=$1
    wait_until eval "! kill -0 $pid 2>/dev/null" || return 1
    wait "$pid"
    EXIT_STATUS=$?
}

screenshot() {
    SHOTS=$((SHOTS + 1))
    local file
    file="$ARTIFACTS/$(printf '%02d' "$SHOTS")-$1.png"
    import -window root "$file" 2>/dev/null && log "  screenshot: $file"
    LAST_SHOT=$file
}

pass() {
    PASSED=$((PASSED + 1))
    log "ok - $1"
}

fail() {
    FAILED=$((FAILED + 1))
    log "not ok - $1"
    [ -n "${DISPLAY:-}" ] && screenshot "failed-$(echo "$1" | tr -c 'A-Za-z0-9' '-' | cut -c1-40)"
}

# check "description" command...: one test case.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

finish() {
    log "$E2E_NAME: $PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
    exit
}

have_display() { [ -e "/tmp/.X11-unix/X$1" ] || [ -e "/tmp/.X$1-lock" ]; }

wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# Starts Xvfb and openbox and exports DISPLAY. The screen has $1 DPI (96 unless given, as
# Xorg has; Xvfb's own default is 100, which Qt would scale the program for), also in
# Xft.dpi, where desktops set their scale and Qt reads it; it grows with the DPI, so that
# what fits at 96 fits at any.
start_x() {
    local dpi=${1:-96} fifo="$WORK/displayfd" number="" candidate
    if [ -n "${E2E_DISPLAYS:-}" ]; then
        for candidate in $E2E_DISPLAYS; do
            have_display "$candidate" || {
                number=$candidate
                break
            }
        done
        [ -n "$number" ] || {
            log "no free display among $E2E_DISPLAYS"
            exit 1
        }
        number=":$number"
    fi
    : >"$fifo"
    # Xvfb writes the display number to the -displayfd descriptor once it accepts clients.
    # shellcheck disable=SC2086 # $number is empty or one word
    Xvfb $number -displayfd 3 -noreset -nolisten tcp -dpi "$dpi" \
        -screen 0 "$((1280 * dpi / 96))x$((800 * dpi / 96))x24" \
        3>"$fifo" >"$WORK/xvfb.log" 2>&1 &
    E2E_PIDS+=("$!")
    wait_until test -s "$fifo" || {
        log "Xvfb did not start"
        cat "$WORK/xvfb.log"
        exit 1
    }
    DISPLAY=":$(head -n1 "$fifo")"
    export DISPLAY
    echo "Xft.dpi: $dpi" | xrdb -merge
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM XDG_SESSION_TYPE
    # A home of our own: nothing the user configured, nothing written to their home.
    export HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/runtime" XDG_CACHE_HOME="$WORK/home/.cache"
    export XDG_DATA_HOME="$WORK/home/.local/share"
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    export NO_AT_BRIDGE=1 GTK_A11Y=none
    # Openbox's stock configuration (Alt+F4 closes), not whatever the user has; GTK's
    # cursor does not blink, so that a window's pixels change only when its content does.
    export XDG_CONFIG_HOME="$WORK/config"
    mkdir -p "$XDG_CONFIG_HOME/gtk-3.0"
    printf '[Settings]\ngtk-cursor-blink=false\n' >"$XDG_CONFIG_HOME/gtk-3.0/settings.ini"
    start_bg openbox openbox
    wait_until wm_ready || {
        log "openbox did not start"
        exit 1
    }
    # Keys are held by hand in some cases: auto-repeat would turn a slow hold into
    # several presses.
    xset r off
    log "X display $DISPLAY ready"
}

# The visible top-level window whose title is exactly $1.
window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1; }

wait_window() {
    local title=$1
    WINDOW=""
    wait_until eval "WINDOW=\$(window_named '$title'); [ -n \"\$WINDOW\" ]"
}

focused_window_is() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }

# Makes window $1 active and waits until it has the keyboard focus.
activate() {
    xdotool windowactivate --sync "$1" >/dev/null 2>&1
    wait_until focused_window_is "$1"
}

# Starts tessel and waits for its window; TESSEL_PID and TESSEL_WIN are set. Arguments are
# a command that runs it (env with its options, say); it must exec tessel in its place.
start_tessel() {
    start_bg tessel "$@" "$TESSEL"
    TESSEL_PID=$BG_PID
    wait_window "$TESSEL_TITLE" || {
        log "the Tessel window did not appear"
        cat "$WORK/tessel.log"
        return 1
    }
    TESSEL_WIN=$WINDOW
    xdotool windowmove --sync "$TESSEL_WIN" 20 40 >/dev/null 2>&1
}

# The size of window $1's inside, as WIDTHxHEIGHT.
window_size() { xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }

# The position of window $1's inside on screen, in WIN_X and WIN_Y.
window_origin() {
    eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X:/ {print "WIN_X=" $4} /Absolute upper-left Y:/ {print "WIN_Y=" $4}')"
}

# Asks the window manager to close window $1 (as its close button does). On a loaded machine
# the key can reach the window manager before the activation has: then it is pressed again.
wm_close() {
    local attempt
    for attempt in 1 2 3; do
        activate "$1" && xdotool key --clearmodifiers alt+F4 &&
            TIMEOUT=3 wait_until window_gone "$1" && return 0
    done
    return 1
}
window_gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }

# Starts the recording Qt application with the keyboard focus. FOCUS_LOG holds its lines
# ("key <sequence>", "text <whole text>"); FOCUS_WIN is its window.
start_focusapp() {
    FOCUS_LOG="$WORK/focus-events.log"
    : >"$FOCUS_LOG"
    start_bg focusapp "${FOCUSAPP:?path of the focusapp binary}" focusapp "$FOCUS_LOG"
    FOCUS_PID=$BG_PID
    wait_window focusapp || {
        log "the focus application did not appear"
        return 1
    }
    FOCUS_WIN=$WINDOW
    xdotool windowmove --sync "$FOCUS_WIN" 640 40 >/dev/null 2>&1
    activate "$FOCUS_WIN"
}

# The focus application's current text.
focus_text() { sed -n 's/^text //p' "$FOCUS_LOG" | tail -n1; }

focus_text_is() { [ "$(focus_text)" = "$1" ]; }

wait_focus_text() {
    wait_until focus_text_is "$1" || {
        log "  focus app text: '$(focus_text)', expected '$1'"
        return 1
    }
}

# Clears the focus application's text and its record.
clear_focus() {
    xdotool key Escape
    wait_until grep -q '^key Esc$' "$FOCUS_LOG" || {
        log "  the focus application did not get Escape"
        return 1
    }
    : >"$FOCUS_LOG"
}

# Types a marker key the focus application must receive; keys sent before it by the same
# client reached the application (or did not) before it.
marker() {
    xdotool key "$1"
    wait_until grep -q "^key $2\$" "$FOCUS_LOG"
}

# True when the focus application received key $1 (e.g. F3, Ctrl+F3).
focus_got_key() { grep -q "^key $1\$" "$FOCUS_LOG"; }

# Presses F-key $1 and holds it briefly, as a user does: the program reacts while the key
# is still down, so its grab is then an active keyboard grab.
hold_key() {
    xdotool keydown "$1"
    sleep "$HOLD"
    xdotool keyup "$1"
}

xclip_requests() {
    local count
    count=$(grep -c 'Waiting for selection request' "$1" 2>/dev/null)
    echo "${count:-0}"
}

# Puts file $2 on the clipboard as MIME type $1 from a new xclip process (which stays the
# owner until another takes over) and waits until Tessel has read it: the owner has served
# at least the format list and one format, and no further request follows for a moment.
copy_file() {
    local type=$1 file=$2 name log
    name="xclip-$((${#E2E_PIDS[@]}))"
    start_bg "$name" xclip -verbose -selection clipboard -t "$type" -i "$file"
    OWNER_PID=$BG_PID
    log="$WORK/$name.log"
    # xclip prints a line before waiting for each request: three lines = two served.
    wait_until eval "[ \"\$(xclip_requests '$log')\" -ge 3 ]" || {
        log "  the clipboard owner served no request for $type"
        return 1
    }
    REQUESTS=$(xclip_requests "$log")
    wait_until requests_settled "$log"
}

# True when owner log $1 shows no new request for a moment; REQUESTS holds the last count.
requests_settled() {
    sleep 0.4
    local now
    now=$(xclip_requests "$1")
    [ "$now" = "$REQUESTS" ] && return 0
    REQUESTS=$now
    return 1
}

copy_text() {
    local file="$WORK/copy-$RANDOM.txt"
    printf '%s' "$1" >"$file"
    copy_file UTF8_STRING "$file"
}

# Ends the clipboard owner started last; on X11 the clipboard is then empty. Nothing tells
# when Tessel has seen the owner go: a replay afterwards serves as the fence.
kill_owner() {
    kill "$OWNER_PID"
    wait_exit "$OWNER_PID"
}

# The areas of the pure red marks in picture $1, one a line, top to bottom: the delete cells'
# red X, each a mark of its own.
red_marks() {
    convert "$1" -fill black +opaque '#ff0000' -fill white -opaque '#ff0000' \
        -define connected-components:verbose=true -connected-components 8 null: 2>/dev/null |
        awk '$NF ~ /^(srgba?\(255,255,255|gray\(255)/ {
            split($2, box, "+"); print box[3], $4 }' | sort -n | cut -d' ' -f2
}

window_pixels() { import -window "$1" rgb:- 2>/dev/null | md5sum; }

# Waits until window $1 stops changing and records its look in WINDOW_LOOK.
wait_window_still() {
    WINDOW_LOOK=""
    wait_until window_still "$1"
}

window_still() {
    local now
    now=$(window_pixels "$1")
    [ "$now" = "$WINDOW_LOOK" ] && return 0
    WINDOW_LOOK=$now
    sleep 0.1
    return 1
}

window_changed() { [ "$(window_pixels "$1")" != "$WINDOW_LOOK" ]; }

# Replays with F-key $1 into zenity's entry, an application nobody here wrote, which prints
# the entry's text when Enter is pressed; true when it printed $2.
zenity_gets() {
    local key=$1 expected=$2 pid status
    start_bg zenity zenity --entry --title=zenity-entry --text="Paste here"
    pid=$BG_PID
    wait_window zenity-entry || return 1
    xdotool windowmove --sync "$WINDOW" 640 200 >/dev/null 2>&1
    activate "$WINDOW" || return 1
    wait_window_still "$WINDOW" || return 1
    hold_key "$key"
    # GTK fetches the clipboard on its own time: Enter must wait until the text shows.
    wait_until window_changed "$WINDOW" || return 1
    screenshot zenity
    xdotool key Return
    wait_exit "$pid" || return 1
    status=$EXIT_STATUS
    log "  zenity printed '$(grep -v Gtk- "$WORK/zenity.log")' with status $status"
    [ "$status" -eq 0 ] && grep -qx "$expected" "$WORK/zenity.log"
}

clipboard_targets() { xclip -o -selection clipboard -t TARGETS 2>/dev/null; }
