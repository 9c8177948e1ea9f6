#!/usr/bin/env bash
# Launching the locked test application: "Will start: " and its name, the lock window over the
# primary monitor and a dark cover over the second one; a screenshot is kept.
. "$(dirname "$0")/lib.sh"

split_monitors
prepare_locked_test_app
start_vaultine
wait_for_line "Monitoring services started"
wait_until 10 is_running corvane_pids || fail "Corvane was not launched"
launch_test_app
wait_for_line "Will start: $TEST_APP_NAME" 10
wait_until 10 lock_is_up || fail "no lock window over the primary monitor ($(primary_monitor))"
wait_until 10 vaultine_window_covering "$SECOND_MONITOR" || fail "no cover over $SECOND_MONITOR"
screenshot locked-two-monitors

# The cover is the lock screen's dark grey, RGB 65, 68, 75.
read -r x y w h <<< "$SECOND_MONITOR"
colour=$(import -window root -crop "1x1+$((x + w / 2))+$((y + h / 2))" -depth 8 txt:- |
    grep -oE '#[0-9A-Fa-f]{6}' | head -n 1)
[ "${colour^^}" = "#41444B" ] || fail "the cover's colour is $colour, not #41444B"
log "ok"
