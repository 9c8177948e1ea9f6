#!/usr/bin/env bash
# Vaultine in a Wayland session (headless sway): it runs as a Wayland client with no X display,
# its status item reaches the bar's StatusNotifierItem host, a second start opens the popover, a
# launch of the locked test application (foot, a Wayland terminal) is covered by the lock on an
# overlay layer that keeps the keys from it, a new output gets a cover, and the right password
# typed there removes both. Then the gate, forced
# (VAULTINE_LOCK_SCREEN=gate): a locked launch is held stopped with no window, its lock an ordinary
# window titled with the application's name; a wrong password keeps it held, the right one lets it
# map its window; a Vaultine killed while it holds a launch leaves it held to its successor, which
# locks it again; closing the lock window ends the run; runs found running get the lock window and
# are never stopped. Screenshots are kept.
E2E_SESSION=wayland
. "$(dirname "$0")/lib.sh"

status_item_registered() {
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
        string:RegisteredStatusNotifierItems | grep -q 'string "'
}
vaultine_window() { has_sway_window "$(vaultine_pids)" "$@"; }
# The colour a quarter down the middle of Vaultine's window: the background its widgets draw.
vaultine_window_colour() {
    local x y w h
    read -r x y w h < <(sway_window_rect "$(vaultine_pids)") || return 1
    wayland_pixel $((x + w / 2)) $((y + h / 4))
}
window_colour_is() { [ "$(vaultine_window_colour)" = "$1" ]; }
# The popover floats at its own size: drawn, it differs from the desktop just left of it.
popover_drawn() {
    local x y w h
    read -r x y w h < <(sway_window_rect "$(vaultine_pids)") || return 1
    [ "$x" -gt 2 ] && [ "$(vaultine_window_colour)" != "$(wayland_pixel $((x - 2)) $((y + h / 4)))" ]
}
no_vaultine_window() { ! vaultine_window; }
# The title sway shows for the first window of process $1.
sway_window_name() {
    swaymsg -t get_tree | python3 -c '
import json, sys
def walk(node):
    if node.get("pid") == int(sys.argv[1]):
        print(node.get("name") or "")
        sys.exit(0)
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))
sys.exit(1)' "$1"
}
vaultine_replaced() { local now; now=$(vaultine_pids); [ -n "$now" ] && [ "$now" != "$1" ]; }

prepare_locked_test_app "Open Sesame"
start_vaultine -psn_0
wait_for_line "Monitoring services started"
[ -z "${DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ] && [ -n "$WAYLAND_DISPLAY" ] ||
    fail "the session is not a Wayland one"
wait_for_line "Window system: Wayland"
wait_until 10 status_item_registered || fail "no status item reached the bar's host"
wait_until 10 is_running corvane_pids || fail "Corvane was not launched"

# Started again, the running Vaultine opens its popover, a window of its own.
setsid "$VAULTINE_EXE" >> "$VAULTINE_LOG" 2>&1 < /dev/null
wait_until 10 vaultine_window || fail "a second start opened no popover"
wait_until 10 popover_drawn || fail "the popover shows nothing but the desktop"
screenshot popover
wtype -k Escape
wait_until 10 no_vaultine_window || fail "Escape left the popover open"

# A colour's share of a screenshot in PPM: "PIXELS-OF-COLOUR ALL-PIXELS" of file $1, colour $2 "#RRGGBB".
colour_count() {
    python3 - "$1" "$2" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
fields = data.split(maxsplit=4)  # P6, width, height, 255, pixels
width, height, pixels = int(fields[1]), int(fields[2]), fields[4]
wanted = bytes.fromhex(sys.argv[2].lstrip("#"))
print(sum(1 for i in range(0, width * height * 3, 3) if pixels[i:i + 3] == wanted), width * height)
PY
}
# Whether output $1 shows the lock screen's colour nearly everywhere (the form in its middle is
# the rest): 95 % of its pixels or more.
output_is_lock() {
    local shot=$E2E_ARTIFACTS/$1-probe.ppm count all
    grim -o "$1" -t ppm "$shot" || return 1
    read -r count all < <(colour_count "$shot" "$LOCK_COLOUR")
    [ $((count * 100)) -ge $((all * 95)) ]
}
output_is_not_lock() { ! output_is_lock "$1"; }
output_names() { swaymsg -t get_outputs | python3 -c 'import json,sys; [print(o["name"]) for o in json.load(sys.stdin)]'; }
# The lock screen's dark grey, RGB 65, 68, 75.
LOCK_COLOUR="#41444B"
MAIN_OUTPUT=$(output_names | head -n 1)

# The lock is an overlay over the whole output, above the terminal that keeps running beneath it
# and above the bar, with the keyboard; it is no window of the compositor's.
launch_test_app
wait_for_line "Will start: " 10
wait_for_line "Layer shell: the lock is on" 10
grep -F "Layer shell: the lock is on" "$VAULTINE_LOG" | head -n 1 >&2
wait_until 10 has_sway_window "$(test_app_pids)" || fail "the locked terminal shows no window beneath"
wait_until 10 output_is_lock "$MAIN_OUTPUT" || fail "the lock does not cover $MAIN_OUTPUT"
no_vaultine_window || fail "the lock is an ordinary window"
screenshot locked
grim -t ppm "$E2E_ARTIFACTS/locked.ppm"

# Focusing the terminal does not give it the keys: a command typed there would make a file.
TYPED_FILE=/tmp/vaultine-e2e-typed-$$
swaymsg "[pid=$(test_app_pids)] focus" >/dev/null || true
wtype "touch $TYPED_FILE"
wtype -k Return
! wait_until 3 test -e "$TYPED_FILE" || fail "keys typed while locked reached the terminal"
output_is_lock "$MAIN_OUTPUT" || fail "focusing the terminal uncovered it"
screenshot wrong-password

# A second output gets its cover; the lock is made again for the new screens.
swaymsg create_output >/dev/null
SECOND_OUTPUT=$(output_names | grep -vx "$MAIN_OUTPUT" | head -n 1)
[ -n "$SECOND_OUTPUT" ] || fail "sway made no second output"
wait_until 10 output_is_lock "$SECOND_OUTPUT" || fail "the new output $SECOND_OUTPUT has no cover"
wait_until 10 output_is_lock "$MAIN_OUTPUT" || fail "the lock left $MAIN_OUTPUT with the new output"
grim -o "$SECOND_OUTPUT" "$E2E_ARTIFACTS/second-output-covered.png"
screenshot locked-two-outputs

# Whatever the field holds is selected (Ctrl+A) and typed over.
wtype -M ctrl a -m ctrl
wtype "Open Sesame"
wtype -k Return
wait_until 10 output_is_not_lock "$MAIN_OUTPUT" || fail "the right password left the lock up"
wait_until 10 output_is_not_lock "$SECOND_OUTPUT" || fail "the right password left the cover up"
wait_until 10 has_sway_window "$(test_app_pids)" || fail "the test application shows no window"
is_running test_app_pids || fail "the test application ended"
screenshot unlocked

# Nothing of the terminal showed while it was locked: its background, seen now, is nowhere in the
# locked screenshot.
read -r x y w h < <(sway_window_rect "$(test_app_pids)") || fail "no terminal window"
TERMINAL_COLOUR=$(wayland_pixel $((x + w - 5)) $((y + h - 5)))
[ "$TERMINAL_COLOUR" != "$LOCK_COLOUR" ] || fail "the terminal is drawn in the lock's colour"
read -r count all < <(colour_count "$E2E_ARTIFACTS/locked.ppm" "$TERMINAL_COLOUR")
[ "$count" -eq 0 ] || fail "$count pixels of the terminal's $TERMINAL_COLOUR showed through the lock"
rm -f "$E2E_ARTIFACTS"/*.ppm

log "the gate"
stop_programs
: > "$VAULTINE_LOG"
export VAULTINE_LOCK_SCREEN=gate
start_vaultine -psn_0
wait_for_line "Monitoring services started"
wait_for_line "locked launches are held until the password (the gate)"
held=$(launch_held_test_app)
wait_until 10 vaultine_window || fail "no lock window on the gate"
has_sway_window "$held" && fail "the held launch shows a window"
[ "$(sway_window_name "$(vaultine_pids)")" = "$TEST_APP_NAME" ] ||
    fail "the lock window is titled \"$(sway_window_name "$(vaultine_pids)")\""
swaymsg "[pid=$(vaultine_pids)] focus" >/dev/null
wait_until 10 vaultine_window 1 || fail "the lock window does not take the focus"
wait_until 10 window_colour_is "#41444B" ||
    fail "the gate's lock window shows $(vaultine_window_colour), not the lock screen's #41444B"
screenshot gate-locked
wtype "open sesame"
wtype -k Return
# Nothing else to wait for: the launch must simply still be held after the shake (0.5 s).
wait_until 2 false || true
is_stopped "$held" || fail "a wrong password let the launch go on"
has_sway_window "$held" && fail "a wrong password let the launch show its window"
wtype -M ctrl a -m ctrl -k BackSpace
wtype "Open Sesame"
wtype -k Return
wait_until 10 no_vaultine_window || fail "the right password left the gate's lock window up"
wait_until 10 has_sway_window "$held" || fail "the released launch shows no window"
screenshot gate-unlocked

# Killed while it holds a launch: Corvane starts Vaultine again, which keeps the run held and
# locks it again.
held=$(launch_held_test_app)
wait_until 10 vaultine_window || fail "no lock window for the second launch"
killed=$(vaultine_pids)
kill -KILL $killed
wait_until 20 vaultine_replaced "$killed" || fail "Vaultine was not started again"
wait_until 20 vaultine_window || fail "the successor shows no lock window"
is_stopped "$held" || fail "the successor let the held launch go on"
has_sway_window "$held" && fail "the held launch shows a window under the successor"
screenshot gate-relocked
# Closing the lock window ends the run it held.
swaymsg "[pid=$(vaultine_pids)] kill" >/dev/null
wait_until 10 has_ended "$held" || fail "closing the lock window left the run ($(process_state "$held"))"
wait_until 10 no_vaultine_window || fail "the lock window stayed after its run ended"

# Runs found running, their windows shown, get the lock window only: they are never stopped.
stop_programs
printf '{"KnownInstances": "known;"}\n' |
    as_user tee "$XDG_CONFIG_HOME/$VAULTINE_ID/defaults.json" >/dev/null
: > "$VAULTINE_LOG"
start_vaultine -psn_0
wait_for_line "Started while Vaultine was not running: $TEST_APP_NAME"
wait_until 10 vaultine_window || fail "no lock window for the runs found running"
for app in $(test_app_pids); do
    is_stopped "$app" && fail "run $app, its window shown, was stopped"
done
screenshot gate-found-running
log "ok"
