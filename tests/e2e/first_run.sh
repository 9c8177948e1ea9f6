#!/usr/bin/env bash
# A first run through the real windows: the greeting, a password set up in the password window,
# protection starting by itself, the popover asking for the password, and Quit ending Vaultine and
# Corvane for good.
. "$(dirname "$0")/lib.sh"

window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1; }
has_window() { [ -n "$(window_named "$1")" ]; }
# Clicks at a point of a window, given relative to its top-left corner.
click_in() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

stop_programs
clear_settings
start_vaultine
wait_for_line "Will not start. No password"
wait_until 10 has_window "Welcome to Vaultine" || fail "no greeting on the first run"
is_gone corvane_pids || fail "Corvane runs without a password"
screenshot greeting

# The greeting's "Set Up Password" button; the popover opened at start-up is a popup that takes
# the first click outside it to close itself.
greeting=$(window_named "Welcome to Vaultine")
for _ in 1 2 3; do
    click_in "$greeting" 417 333
    wait_until 2 has_window "Vaultine Password" && break
done
has_window "Vaultine Password" || fail "Set Up Password did not open the password window"
wait_until 5 sh -c '! xdotool search --onlyvisible --name "^Welcome to Vaultine\$"' ||
    fail "the greeting stayed open"
xdotool windowactivate --sync "$(window_named "Vaultine Password")" >/dev/null 2>&1 || true
xdotool type --delay 15 "Open Sesame"
xdotool key Tab
xdotool type --delay 15 "Open Sesame"
xdotool key Return

wait_for_line "Monitoring services started" 10
wait_until 10 is_running corvane_pids || fail "Corvane was not launched once a password was stored"
wait_until 10 has_window "Vaultine" || fail "the popover did not open after the password was stored"
screenshot popover-request-password

# The popover asks for the password before it shows anything.
xdotool type --delay 15 "Open Sesame"
xdotool key Return
wait_until 2 false || true
screenshot popover-main

# Options menu (top right of the popover), then its last item, "Quit".
popover=$(window_named "Vaultine")
click_in "$popover" 292 31
wait_until 2 false || true
screenshot options-menu
xdotool key Up Return
wait_until 10 is_gone vaultine_pids || fail "Quit left Vaultine running"
wait_until 10 is_gone corvane_pids || fail "Quit left Corvane running"
# Neither comes back.
wait_until 3 false || true
is_gone vaultine_pids || fail "Vaultine came back after Quit"
is_gone corvane_pids || fail "Corvane came back after Quit"
log "ok"
