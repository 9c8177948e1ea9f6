#!/usr/bin/env bash
# Vaultine in GNOME on Wayland (headless GNOME Shell): it enables its Shell extension (the build's
# copy, which the Shell finds among its system data), a launch of the locked test application
# (foot, a Wayland terminal) is covered by the extension's lock over both monitors, the panel
# included, and runs on under it; the extension's object refuses a caller that is not Vaultine; turned off while locked,
# the extension is turned on again with the lock; the lock stays up while Vaultine is killed and
# restarted; the lock's contents follow the primary monitor; Alt+Tab, Super and typed keys go to
# the lock alone; the right password releases the run, whose terminal then takes keys; GNOME's own
# terminal (its window from a server the bus starts) is locked and released the same way; a
# program of the user watching the session bus all along sees neither the wrong nor the right
# password typed at the lock, and one that sends the right password into the copy of the Shell's
# password socket its watch received does not release the lock. Then the gate, forced
# (VAULTINE_LOCK_SCREEN=gate), as where the extension is missing: a locked launch is held stopped,
# the screen showing the ordinary lock window and no terminal; a wrong password keeps it held, the
# right one lets it go on and show its window; closing the lock window (Alt+F4) ends the run.
# Screenshots are kept.
E2E_SESSION=gnome
. "$(dirname "$0")/lib.sh"

UUID=vaultine@vaultine.org
GNOME_SHELL_PY=$E2E_SOURCE_DIR/tests/e2e/support/gnome_shell.py
INPUT=$HOME/shell-input

shell_call() {
    as_user gdbus call --session --dest org.gnome.Shell --object-path "$1" --method "$2" "${@:3}"
}
extension_state() {
    shell_call /org/gnome/Shell org.gnome.Shell.Extensions.GetExtensionInfo "$UUID" |
        grep -o "'state': <[0-9.]*>" | grep -o '[0-9][0-9.]*'
}
extension_enabled() { [ "$(extension_state)" = 1.0 ]; }
# The colour of the screen's pixel at $1,$2 as "#RRGGBB", from a screenshot of the Shell's.
screen_pixel() {
    local shot=$E2E_ARTIFACTS/probe.png
    as_user /usr/bin/python3 "$GNOME_SHELL_PY" screenshot "$shot" >/dev/null || return 1
    convert "$shot" -crop "1x1+$1+$2" -depth 8 txt:- | grep -o '#[0-9A-Fa-f]\{6\}' | head -n 1 |
        tr a-f A-F
}
# The lock screen's dark grey, RGB 65, 68, 75: at the primary monitor's corners (its top left one
# under the panel) and over the second monitor (the session has two, side by side).
LOCK_GREY="#41444B"
read -r SCREEN_W SCREEN_H _ < <(echo "${VAULTINE_SESSION_GEOMETRY:-2560x1024x24}" | tr x ' ')
screen_is_locked() {
    [ "$(screen_pixel 5 5)" = "$LOCK_GREY" ] &&
        [ "$(screen_pixel 5 $((SCREEN_H - 5)))" = "$LOCK_GREY" ] &&
        [ "$(screen_pixel $((SCREEN_W * 3 / 4)) $((SCREEN_H / 2)))" = "$LOCK_GREY" ] &&
        [ "$(screen_pixel $((SCREEN_W - 5)) $((SCREEN_H - 5)))" = "$LOCK_GREY" ]
}
# The middle of the right half shows more than the grey: the lock's contents are there.
lock_contents_on_right() {
    local shot=$E2E_ARTIFACTS/probe.png
    as_user /usr/bin/python3 "$GNOME_SHELL_PY" screenshot "$shot" >/dev/null || return 1
    [ "$(convert "$shot" -crop "$((SCREEN_W / 2))x200+$((SCREEN_W / 2))+$((SCREEN_H / 2 - 100))" \
        -format %k info:)" -gt 1 ]
}
screen_is_free() { [ "$(screen_pixel 5 5)" != "$LOCK_GREY" ]; }
# Keys and clicks through one long-lived remote-desktop session of mutter.
send_input() { echo "$*" > "$INPUT"; }
typed_into_app() { grep -q -- "$1" "$TEST_APP_TYPED" 2>/dev/null; }

prepare_locked_test_app "Open Sesame"
rm -f "$TEST_APP_TYPED" "$INPUT"
mkfifo "$INPUT"
setsid /usr/bin/python3 "$GNOME_SHELL_PY" input "$INPUT" > "$E2E_ARTIFACTS/input.log" 2>&1 < /dev/null &
start_vaultine -psn_0
wait_for_line "Monitoring services started"
wait_for_line "Lock: drawn by the GNOME Shell extension"
extension_enabled || fail "the extension is not enabled: $(extension_state)"
screen_is_free || fail "the screen is grey before any lock"
screenshot desktop

# Only Vaultine's program may use the extension's object.
forged=$(as_user /usr/bin/python3 "$GNOME_SHELL_PY" forge-lock 2>&1) ||
    fail "the extension took a lock request from another program"
[[ "$forged" == *AccessDenied* ]] || fail "a lock request from another program: $forged"

# A program of the user watches the session bus from here to the end of the typing; another takes
# the copy of the Shell's password socket the next lock request brings and sends the password in.
BUS_WATCH=$E2E_ARTIFACTS/dbus-monitor.log
INJECTED=$E2E_ARTIFACTS/inject.log
rm -f "$BUS_WATCH" "$INJECTED"
as_user setsid sh -c 'echo $$; exec dbus-monitor --session' > "$BUS_WATCH" 2>&1 < /dev/null &
watching() { [ "$(wc -l < "$BUS_WATCH")" -ge 2 ]; }  # its process, then the bus's greeting
wait_until 10 watching || fail "dbus-monitor does not watch: $(cat "$BUS_WATCH")"
BUS_WATCHER=$(head -n 1 "$BUS_WATCH")
as_user setsid /usr/bin/python3 "$GNOME_SHELL_PY" inject "Open Sesame" > "$INJECTED" 2>&1 < /dev/null &
wait_until 10 grep -q watching "$INJECTED" || fail "the injector does not watch: $(cat "$INJECTED")"

launch_test_app
wait_for_line "Will start: " 10
wait_until 10 screen_is_locked || fail "the extension did not cover the screen"
screenshot locked
# The Shell's lock hides the run: it goes on under the lock instead of waiting for the password.
test_app_goes_on() {
    local app
    app=$(test_app_pids | head -n 1)
    [ -n "$app" ] && ! is_stopped "$app"
}
wait_until 10 test_app_goes_on || fail "the locked launch is held stopped under the Shell's lock"
wait_until 10 grep -q injected "$INJECTED" || fail "nothing was injected: $(cat "$INJECTED")"
shell_call /org/vaultine/ShellLock org.vaultine.ShellLock.Unlock 1 >/dev/null 2>&1 || true
screen_is_locked || fail "another program's unlock request or its password took the lock down"

# The monitors rearranged (the primary one now on the right): the grey still covers both, and the
# lock's contents follow the primary monitor.
as_user /usr/bin/python3 "$GNOME_SHELL_PY" swap-monitors || fail "the monitors could not be swapped"
wait_until 10 lock_contents_on_right || fail "the lock's contents did not follow the primary monitor"
screen_is_locked || fail "the monitors' change uncovered the screen"
screenshot monitors-swapped

# Turned off while a lock is up, the extension is turned on again and shows the lock again.
shell_call /org/gnome/Shell org.gnome.Shell.Extensions.DisableExtension "$UUID" >/dev/null
wait_until 10 extension_enabled || fail "the extension stayed off"
wait_until 10 screen_is_locked || fail "the lock did not come back with the extension"

# Vaultine killed while locked: the Shell keeps the lock up, and the Vaultine that Corvane starts
# again takes it over (the password typed later goes to it).
killed=$(vaultine_pids)
new_vaultine() { local now; now=$(vaultine_pids); [ -n "$now" ] && [ "$now" != "$killed" ]; }
restarted_uses_extension() { [ "$(grep -c "Lock: drawn by the GNOME Shell" "$VAULTINE_LOG")" -ge 2 ]; }
kill -KILL $killed
wait_until 20 new_vaultine || fail "Corvane did not start Vaultine again"
screen_is_locked || fail "the lock went down with Vaultine"
wait_until 20 restarted_uses_extension || fail "the restarted Vaultine does not use the extension"

# Application switching, the overview and typing reach nothing but the lock.
send_input "keys Alt_L Tab"
send_input "key Super_L"
send_input "keys Super_L Escape"
send_input "text wrong password"
send_input "key Return"
screen_is_locked || fail "the lock went down on a wrong password or a switch"
screenshot wrong-password
send_input "text Open Sesame"
send_input "key Return"
wait_until 10 screen_is_free || fail "the right password left the lock up"
screenshot unlocked
kill "$BUS_WATCHER"
grep -q 'member=Lock$' "$BUS_WATCH" || fail "the bus watcher did not see the lock requests"
! grep -q -e 'wrong password' -e 'Sesame' "$BUS_WATCH" ||
    fail "a typed password went over the session bus: $(grep -e 'wrong password' -e Sesame "$BUS_WATCH")"
is_running test_app_pids || fail "the test application ended"
! typed_into_app "password" && ! typed_into_app "Sesame" ||
    fail "keys typed at the lock reached the locked terminal"

# Released, the terminal takes keys once the user switches to it (GNOME does not give the focus to
# a window started without a click).
send_input "keys Alt_L Tab"
send_input "text released"
send_input "key Return"
wait_until 10 typed_into_app released || { screenshot released; fail "the released terminal takes no keys"; }

# GNOME's own terminal, whose window comes from a server the bus starts, is locked by default.
setsid gnome-terminal > "$E2E_ARTIFACTS/gnome-terminal.log" 2>&1 < /dev/null &
wait_for_line "Will start: Terminal" 20
wait_until 10 screen_is_locked || fail "GNOME's terminal was not locked"
screenshot terminal-locked
send_input "text Open Sesame"
send_input "key Return"
wait_until 10 screen_is_free || fail "the right password left the terminal's lock up"
screenshot terminal-unlocked

log "the gate"
# What GNOME users get where the extension is missing: a locked launch held stopped, its lock an
# ordinary window. Runs left from above are ended, so that no terminal shows before the launch.
stop_programs
for app in $(test_app_pids); do kill -KILL "$app"; done
: > "$VAULTINE_LOG"
export VAULTINE_LOCK_SCREEN=gate
start_vaultine -psn_0
wait_for_line "locked launches are held until the password (the gate)"
# How many pixels of screenshot $1 have the colour $2.
colour_count() {
    convert "$1" -fill black +opaque "$2" -fill white -opaque "$2" \
        -format '%[fx:round(mean*w*h)]\n' info:
}
FOOT_BACKGROUND="#111111"  # foot's own background colour
# Screenshot $1 shows the lock window (in the lock screen's grey) and nothing of a terminal (the
# panel's lettering has a few pixels of the terminal's colour, a terminal window a great many).
shows_gate_alone() {
    screenshot "$1" >/dev/null || return 1
    [ "$(colour_count "$E2E_ARTIFACTS/$1.png" "$LOCK_GREY")" -gt 100000 ] &&
        [ "$(colour_count "$E2E_ARTIFACTS/$1.png" "$FOOT_BACKGROUND")" -lt 1000 ]
}
shows_terminal() {
    screenshot "$1" >/dev/null || return 1
    [ "$(colour_count "$E2E_ARTIFACTS/$1.png" "$FOOT_BACKGROUND")" -gt 10000 ]
}

held=$(launch_held_test_app)
wait_until 10 shows_gate_alone gate-locked || fail "the screen does not show the lock window alone"
# The lock window takes the focus as it opens (Vaultine activates it): the keys need no click.
send_input "text open sesame"
send_input "key Return"
# Nothing else to wait for: the launch must simply still be held after the shake (0.5 s).
wait_until 2 false || true
is_stopped "$held" || fail "a wrong password let the launch go on"
shows_gate_alone gate-wrong-password || fail "a wrong password let the launch show its window"
send_input "keys Control_L a"
send_input "text Open Sesame"
send_input "key Return"
wait_until 10 eval '! is_stopped "$held"' || fail "the right password left the launch held"
wait_until 10 shows_terminal gate-unlocked || fail "the released launch shows no window"

# Closing the lock window (Alt+F4) ends the run it held. The released run is ended first, so that
# the screen again shows no terminal.
kill -KILL "$held"
wait_until 10 has_ended "$held" || fail "the released run did not end"
held=$(launch_held_test_app)
wait_until 10 shows_gate_alone gate-second || fail "the second launch's lock window does not show"
send_input "keys Alt_L F4"
wait_until 10 has_ended "$held" || {
    screenshot gate-closed
    fail "closing the lock window left the run ($(process_state "$held"))"
}
log "ok"
