#!/usr/bin/env bash
# A wrong password keeps the lock; the right one removes the lock window and the cover and brings
# the application to the front.
. "$(dirname "$0")/lib.sh"

split_monitors
prepare_locked_test_app "Open Sesame"
start_vaultine
wait_for_line "Monitoring services started"
launch_test_app
wait_until 10 lock_is_up || fail "the test application was not locked"
wait_until 10 vaultine_window_covering "$SECOND_MONITOR" || fail "no cover"
lock=$(lock_window)
wait_until 5 focus_is_in "$lock" || fail "the lock window does not hold the focus"

xdotool type --delay 15 "open sesame"
xdotool key Return
screenshot wrong-password
# Nothing else to wait for: the lock must simply still be there after the shake (0.5 s).
wait_until 2 false || true
lock_is_up || fail "a wrong password removed the lock"
is_running test_app_pids || fail "the test application ended"

xdotool key ctrl+a BackSpace
xdotool type --delay 15 "Open Sesame"
xdotool key Return
wait_until 5 lock_is_down || fail "the right password left the lock window up"
wait_until 5 sh -c "! vaultine_window_covering '$SECOND_MONITOR'" 2>/dev/null ||
    [ -z "$(vaultine_window_covering "$SECOND_MONITOR")" ] || fail "the cover stayed"
app_window=$(xdotool search --onlyvisible --name "$TEST_APP_NAME" | head -n 1)
active_is_app() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$app_window" ]; }
wait_until 5 active_is_app || fail "the application was not brought to the front"
screenshot unlocked
log "ok"
