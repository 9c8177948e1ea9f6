#!/usr/bin/env bash
# Through the real windows: an application picked in the selection window is locked at its next
# launch; removed from the popover's list, it starts unlocked at the launch after.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/support/popover.sh"

stop_programs
clear_settings
install_test_app
start_with_popover_open

# "+" opens the selection window; the filter narrows it to the test application, which is picked
# with one click on its row.
click_in "$(popover_window)" 256 31
wait_until 10 has_window "Lock Applications" || fail "no selection window"
selection=$(window_named "Lock Applications")
click_in "$selection" 230 95
xdotool type --delay 15 "Vaultine Test"
wait_until 2 false || true
screenshot selection-filtered
click_in "$selection" 230 147
wait_until 5 sh -c "secret-tool lookup xdg:schema org.vaultine.Keychain account '$VAULTINE_ID (Applications)' | grep -q '$TEST_APP_ID'" ||
    fail "the pick did not lock the test application"
xdotool windowclose "$selection" 2>/dev/null || xdotool key --window "$selection" Escape

launch_test_app
wait_until 10 lock_is_up || fail "the picked application was not locked at its next launch"
screenshot locked-after-pick
xdotool type --delay 15 "Open Sesame"
xdotool key Return
wait_until 5 lock_is_down || fail "the right password left the lock up"
for app in $(test_app_pids); do kill "$app" || true; done
wait_until 5 is_gone test_app_pids || fail "the test application did not end"

# The row's remove button in the popover.
open_popover_main_page
popover=$(popover_window)
[ -n "$popover" ] || fail "the popover is not open"
screenshot popover-with-test-app
click_in "$popover" 296 82
wait_until 5 sh -c "! secret-tool lookup xdg:schema org.vaultine.Keychain account '$VAULTINE_ID (Applications)' | grep -q '$TEST_APP_ID'" ||
    fail "the remove button did not unlock the test application"
wait_for_line "removeApplicationRequest: $TEST_APP_NAME" 5

launch_test_app
wait_for_line "Did start: $TEST_APP_NAME" 10
wait_until 3 lock_is_up && fail "the removed application was locked again"
log "ok"
