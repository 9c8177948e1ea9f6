#!/usr/bin/env bash
# Helpers of the end-to-end tests: the private session, stored settings, a test application
# installed as a desktop entry, waits with timeouts, windows by process, and clean-up of exactly
# the processes a test caused.
#
# Source it first thing: `. "$(dirname "$0")/lib.sh"`. Outside a private desktop session of the
# kind the script asks for (E2E_SESSION=wayland or gnome set before sourcing; X11 otherwise) it
# re-runs the calling script inside a fresh one (scripts/desktop-session.sh run), as that session's
# user. The GNOME session finds the build's copy of our Shell extension among its system data.

set -euo pipefail

E2E_SOURCE_DIR=${VAULTINE_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
E2E_SESSION=${E2E_SESSION:-x11}
: "${VAULTINE_BUNDLE:?VAULTINE_BUNDLE must name the built Vaultine.app}"
E2E_NAME=$(basename "$0" .sh)
# Artifacts (logs, screenshots) stay in the build folder, beside the bundle.
E2E_ARTIFACTS=${E2E_ARTIFACTS:-$(dirname "$VAULTINE_BUNDLE")/e2e-artifacts/$E2E_NAME}
if [ -z "${VAULTINE_SESSION_DIR:-}" ] || [ "${VAULTINE_SESSION_KIND:-x11}" != "$E2E_SESSION" ]; then
    mkdir -p "$E2E_ARTIFACTS"
    E2E_ARTIFACTS=$E2E_ARTIFACTS VAULTINE_SESSION_OUTPUT=$E2E_ARTIFACTS \
        VAULTINE_SESSION_DATA_DIRS=$(dirname "$VAULTINE_BUNDLE")/share \
        VAULTINE_SESSION=$E2E_SESSION exec "$E2E_SOURCE_DIR/scripts/desktop-session.sh" run -- \
        bash "$(cd "$(dirname "$0")" && pwd)/$(basename "$0")" "$@"
fi

VAULTINE_EXE=$VAULTINE_BUNDLE/Contents/bin/Vaultine
# A Wayland session's user may be kept out of a build under a private home folder.
[ -x "$VAULTINE_EXE" ] || { echo "$VAULTINE_EXE cannot be run by $(id -un)" >&2; exit 1; }
CORVANE_BUNDLE=$VAULTINE_BUNDLE/Contents/Library/LoginItems/Corvane.app
CORVANE_EXE=$CORVANE_BUNDLE/Contents/bin/Corvane
VAULTINE_ID=org.vaultine.Vaultine
CORVANE_ID=org.vaultine.Corvane
TEST_APP_ID=org.vaultine.TestApp
TEST_APP_NAME="Vaultine Test App"
mkdir -p "$E2E_ARTIFACTS"
VAULTINE_LOG=$E2E_ARTIFACTS/vaultine.log
: > "$VAULTINE_LOG"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=0}

# What stands for the user (starting programs, typing, the keyring, the user's files) runs as the
# session's user: an ordinary user's when the session was started with `run --user`, the caller
# otherwise. Observing (windows, /proc) needs no change of user.
as_user() {
    # Only root acts for the session's user; a script that runs as that user acts as itself.
    if [ -n "${VAULTINE_SESSION_USER:-}" ] && [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid="$(id -u "$VAULTINE_SESSION_USER")" \
            --regid="$(id -g "$VAULTINE_SESSION_USER")" --init-groups -- "$@"
    else
        "$@"
    fi
}

log() { echo "[$E2E_NAME] $*" >&2; }
fail() {
    log "FAIL: $*"
    [ -f "$VAULTINE_LOG" ] && sed 's/^/  vaultine> /' "$VAULTINE_LOG" >&2 || true
    exit 1
}

# wait_until SECONDS COMMAND...: true as soon as the command succeeds, false after the timeout.
wait_until() {
    local deadline=$(($(date +%s%N) + $1 * 1000000000)); shift
    while ! "$@" >/dev/null 2>&1; do
        [ "$(date +%s%N)" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# The processes of this session whose executable is $1: found by exact executable path and by
# this session's folder in their environment, so nothing of another session is ever touched.
# Vaultine is not dumpable: to its own user (a Wayland session's script runs as that user) its
# executable and environment are closed, and a process of ours whose /proc files are root's and
# whose name is the executable's stands for it, in this script's own pid namespace.
session_pids() {
    local exe=$1 dir
    for dir in /proc/[0-9]*; do
        if [ "$(id -u)" -ne 0 ] && [ "$(stat -c %u "$dir/stat" 2>/dev/null)" = 0 ] &&
            [ "$(stat -c %u "$dir" 2>/dev/null)" = "$(id -u)" ]; then
            [ "$(sed 's/^[0-9]* (\(.*\)) .*/\1/' "$dir/stat" 2>/dev/null)" = \
                "$(basename "$exe" | cut -c1-15)" ] && echo "${dir#/proc/}"
            continue
        fi
        [ "$(readlink "$dir/exe" 2>/dev/null)" = "$exe" ] || continue
        { tr '\0' '\n' < "$dir/environ"; } 2>/dev/null |
            grep -qx "VAULTINE_SESSION_DIR=$VAULTINE_SESSION_DIR" || continue
        echo "${dir#/proc/}"
    done
}
vaultine_pids() { session_pids "$(readlink -f "$VAULTINE_EXE")"; }
corvane_pids() { session_pids "$(readlink -f "$CORVANE_EXE")"; }
test_app_pids() { session_pids "$(readlink -f "$TEST_APP_EXE")"; }
# A process's state letter (T: stopped), empty once it is gone.
process_state() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1; }
is_stopped() { [ "$(process_state "$1")" = T ]; }
has_ended() { local state; state=$(process_state "$1"); [ -z "$state" ] || [ "$state" = Z ]; }
# The test application's process started since $known_apps was taken.
new_test_app() { comm -13 <(sort <<<"$known_apps") <(test_app_pids | sort) | head -n 1; }
has_new_test_app() { [ -n "$(new_test_app)" ]; }
# The gate: launches the test application and waits until that launch is held stopped; prints its
# process. A launch Vaultine reaches only once it may be connected to the display is never stopped
# (the gate's known limit, met now and then on a loaded machine): that run is ended and the launch
# tried once more.
launch_held_test_app() {
    local attempt held
    for attempt in 1 2; do
        known_apps=$(test_app_pids)
        launch_test_app
        wait_until 10 has_new_test_app || fail "the test application did not start"
        held=$(new_test_app)
        if wait_until 10 is_stopped "$held"; then
            echo "$held"
            return 0
        fi
        grep -qF "Process $held not held: it may show a window already" "$VAULTINE_LOG" || break
        log "KNOWN GAP: launch $held was reached once it may have been connected; not held"
        kill -KILL "$held"
        wait_until 10 has_ended "$held" || break
    done
    screenshot gate-not-held >&2 || true
    fail "the locked launch was not held stopped (state $(process_state "$held"))"
}
is_running() { [ -n "$("$1")" ]; }
is_gone() { [ -z "$("$1")" ]; }

bus_name_owned() {
    as_user dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q "boolean true"
}

# Settings in the keyring, as Vaultine stores them: schema attribute, account, raw text.
store_setting() {
    printf '%s' "$2" | as_user secret-tool store --label="$VAULTINE_ID ($1)" \
        xdg:schema org.vaultine.Keychain account "$VAULTINE_ID ($1)"
}
clear_setting() {
    as_user secret-tool clear xdg:schema org.vaultine.Keychain account "$VAULTINE_ID ($1)" \
        2>/dev/null || true
}
clear_settings() {
    local key
    for key in Password Applications Active LoginStart Administrative; do clear_setting "$key"; done
    # As after Quit: whatever runs now (a terminal server an earlier test left) is known, since a
    # start without a list of known runs locks every running locked application.
    as_user mkdir -p "$XDG_CONFIG_HOME/$VAULTINE_ID"
    printf '{"KnownInstances": "known;all;"}\n' |
        as_user tee "$XDG_CONFIG_HOME/$VAULTINE_ID/defaults.json" >/dev/null
}

# The session's keyring locked and unlocked without a prompt (the password is the session's).
lock_keyring() { as_user /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/support/keyring.py" lock; }
unlock_keyring() {
    as_user /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/support/keyring.py" unlock \
        "$VAULTINE_SESSION_DIR/keyring-password"
}

# The test application: a private copy of xmessage (foot, a Wayland terminal, in a Wayland
# session), so that its executable belongs to its desktop entry alone, installed as $TEST_APP_ID in
# the user's applications folder. In GNOME the terminal writes what is typed into it to
# $TEST_APP_TYPED.
TEST_APP_EXE=$HOME/bin/vaultine-test-app
TEST_APP_TYPED=$HOME/typed-into-test-app
if [ "$E2E_SESSION" = wayland ]; then
    TEST_APP_PROGRAM=foot
    TEST_APP_ARGS=(--app-id=vaultine-test-app "--title=$TEST_APP_NAME")
elif [ "$E2E_SESSION" = gnome ]; then
    TEST_APP_PROGRAM=foot
    # tee, not a shell: a shell on its terminal would make the terminal a locked one.
    TEST_APP_ARGS=(--app-id=vaultine-test-app "--title=$TEST_APP_NAME" tee "$TEST_APP_TYPED")
else
    TEST_APP_PROGRAM=xmessage
    TEST_APP_ARGS=(-name vaultine-test-app -title "$TEST_APP_NAME" -geometry 600x200+100+100
        "Test application of Vaultine")
fi
install_test_app() {
    as_user mkdir -p "$HOME/bin" "$XDG_DATA_HOME/applications"
    as_user cp "$(command -v "$TEST_APP_PROGRAM")" "$TEST_APP_EXE"
    local exec_line=$TEST_APP_EXE argument
    for argument in "${TEST_APP_ARGS[@]}"; do
        [[ "$argument" == *" "* ]] && argument="\"$argument\""
        exec_line+=" $argument"
    done
    as_user tee "$XDG_DATA_HOME/applications/$TEST_APP_ID.desktop" >/dev/null <<ENTRY
[Desktop Entry]
Type=Application
Name=$TEST_APP_NAME
Exec=$exec_line
TryExec=$TEST_APP_EXE
ENTRY
}
launch_test_app() {
    as_user setsid "$TEST_APP_EXE" "${TEST_APP_ARGS[@]}" >/dev/null 2>&1 < /dev/null &
}

# Starts Vaultine with its output in $VAULTINE_LOG (appended); arguments are passed on ("-psn_0"
# keeps the popover closed).
start_vaultine() {
    as_user setsid "$VAULTINE_EXE" "$@" >> "$VAULTINE_LOG" 2>&1 < /dev/null &
}
log_has() { grep -qF -- "$1" "$VAULTINE_LOG"; }
wait_for_line() { wait_until "${2:-20}" log_has "$1" || fail "no line \"$1\" within ${2:-20} s"; }

# Visible windows of the processes given (one id per line, decimal).
visible_windows_of() {
    local pid
    for pid in "$@"; do xdotool search --all --onlyvisible --pid "$pid" 2>/dev/null || true; done
}
# "X Y W H" of a window.
window_geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
        /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}'
}
# The visible Vaultine window exactly covering the rectangle "X Y W H"; empty when none.
vaultine_window_covering() {
    local window
    for window in $(visible_windows_of $(vaultine_pids)); do
        [ "$(window_geometry "$window")" = "$1" ] && { echo "$window"; return 0; }
    done
    return 1
}
# The primary monitor's rectangle, "X Y W H".
primary_monitor() {
    local spec
    spec=$(xrandr --listactivemonitors | awk 'NR > 1 && $2 ~ /\*/ {print $3; exit}')
    [ -n "$spec" ] || spec=$(xrandr --listactivemonitors | awk 'NR == 2 {print $3}')
    echo "$spec" | sed -E 's#([0-9]+)/[0-9]+x([0-9]+)/[0-9]+\+([0-9]+)\+([0-9]+)#\3 \4 \1 \2#'
}
lock_window() { vaultine_window_covering "$(primary_monitor)"; }
lock_is_up() { [ -n "$(lock_window)" ]; }
lock_is_down() { [ -z "$(lock_window)" ]; }

# The viewable window at the top of the stacking order among the root's children
# (override-redirect ones included), decimal. xwininfo lists the children topmost first.
topmost_window() {
    local window
    for window in $(xwininfo -root -children | awk '/^ +0x/{print $1}'); do
        if xwininfo -id "$window" 2>/dev/null | grep -q "IsViewable"; then
            printf '%d\n' "$window"
            return 0
        fi
    done
    return 1
}
# Whether the X window holding the input focus is $1 or inside it.
focus_is_in() {
    local focus
    focus=$(xdotool getwindowfocus 2>/dev/null) || return 1
    [ "$focus" = "$1" ] && return 0
    xwininfo -tree -id "$1" | grep -q "$(printf '0x%x' "$focus")"
}
screenshot() {
    if [ "$E2E_SESSION" = gnome ]; then
        as_user /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/support/gnome_shell.py" screenshot \
            "$E2E_ARTIFACTS/$1.png"
    elif [ "$E2E_SESSION" = wayland ]; then
        grim "$E2E_ARTIFACTS/$1.png"
    else
        import -window root "$E2E_ARTIFACTS/$1.png"
    fi && log "screenshot $E2E_ARTIFACTS/$1.png"
}

# The windows of the Wayland session as sway lists them, one a line: process id, 1 when it holds
# the focus (else 0), app id.
sway_windows() {
    swaymsg -t get_tree | python3 -c '
import json, sys
def walk(node):
    if node.get("pid"):
        print(node["pid"], int(bool(node.get("focused"))), node.get("app_id") or "-")
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))'
}
# "X Y W H" of the first window of process $1 in the Wayland session, as sway shows it.
sway_window_rect() {
    swaymsg -t get_tree | python3 -c '
import json, sys
def walk(node):
    if node.get("pid") == int(sys.argv[1]):
        rect = node["rect"]
        print(rect["x"], rect["y"], rect["width"], rect["height"])
        sys.exit(0)
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))
sys.exit(1)' "$1"
}
# The colour of the Wayland session's pixel at $1,$2, as "#RRGGBB".
wayland_pixel() {
    printf '#%s\n' "$(grim -g "$1,$2 1x1" -t ppm - | tail -c 3 | od -An -tx1 | tr -d ' \n' |
        tr a-f A-F)"
}
# Whether one of the processes given has a window in the Wayland session ($2 = 1: with the focus).
has_sway_window() {
    local pids=" $1 " pid focused app
    while read -r pid focused app; do
        [[ "$pids" == *" $pid "* ]] && { [ -z "${2:-}" ] || [ "$focused" = "$2" ]; } && return 0
    done < <(sway_windows)
    return 1
}

# Ends what the test caused, by process id only: Vaultine is stopped first so that it cannot
# start Corvane again, Corvane is killed so that it cannot start Vaultine again, then Vaultine.
stop_programs() {
    local round
    for round in 1 2 3 4 5; do
        local vaultine corvane
        vaultine=$(vaultine_pids); corvane=$(corvane_pids)
        [ -z "$vaultine$corvane" ] && break
        [ -n "$vaultine" ] && kill -STOP $vaultine 2>/dev/null || true
        [ -n "$corvane" ] && kill -KILL $corvane 2>/dev/null || true
        [ -n "$vaultine" ] && kill -KILL $vaultine 2>/dev/null || true
        wait_until 2 is_gone vaultine_pids || true
    done
}
cleanup() {
    local status=$?
    unlock_keyring || true  # a locked keyring would answer the clean-up below with a prompt
    stop_programs
    local app
    for app in $(test_app_pids); do kill -KILL "$app" 2>/dev/null || true; done
    xrandr --delmonitor e2e-second >/dev/null 2>&1 || true
    xrandr --delmonitor e2e-primary >/dev/null 2>&1 || true
    clear_settings
    rm -f "$XDG_CONFIG_HOME/autostart/$CORVANE_ID.desktop"
    exit $status
}
trap cleanup EXIT

# Two monitors on the one X screen: the left half primary, the right half second.
split_monitors() {
    local width height
    read -r width height < <(xdpyinfo | awk '/dimensions:/{split($2, d, "x"); print d[1], d[2]}')
    local half=$((width / 2))
    xrandr --setmonitor e2e-primary "${half}/300x${height}/200+0+0" screen >/dev/null 2>&1 ||
        xrandr --setmonitor e2e-primary "${half}/300x${height}/200+0+0" none
    xrandr --setmonitor e2e-second "$((width - half))/300x${height}/200+${half}+0" none
    SECOND_MONITOR="$half 0 $((width - half)) $height"
}

# The usual arrangement: clean settings, password and locked list stored, test app installed.
prepare_locked_test_app() {
    stop_programs
    clear_settings
    install_test_app
    store_setting Password "${1:-Open Sesame}"
    store_setting Applications "$TEST_APP_ID;"
    store_setting Active 1
}

# What a process holds, for leak checks: open file descriptors, resident memory in KiB, and every X
# window carrying its process id (mapped or not, decimal ids), since a leaked window may be hidden.
process_fd_count() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
process_rss_kib() { awk '/^VmRSS:/{print $2}' "/proc/$1/status" 2>/dev/null; }
all_windows_of() { xdotool search --all --pid "$1" 2>/dev/null || true; }

# Types the password into the lock window that holds the focus and submits it.
# The lock may be rebuilt while this waits (a screen change, a lock over a lock), so the window is
# looked up again on every try.
lock_has_focus() {
    local lock
    lock=$(lock_window) || return 1
    focus_is_in "$lock"
}
type_into_lock() {
    wait_until 10 lock_has_focus || return 1
    as_user xdotool type --delay 15 "$1"
    as_user xdotool key Return
}
