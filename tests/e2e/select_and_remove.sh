#!/usr/bin/env bash
# Through the real windows: an application picked in the selection window is locked at its next
# launch; removed from the popover's list, it starts unlocked at the launch after.
. "$(dirname "$0")/lib.sh"

window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1; }
has_window() { [ -n "$(window_named "$1")" ]; }
click_in() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# Opens the popover from the tray icon (unless it is open) and gives it the password.
# The tray (trayer's panel) holds Vaultine's icon alone; a click at its middle is a click on it.
click_tray_icon() {
    local panel x y w h
    panel=$(xdotool search --onlyvisible --name "^panel\$" 2>/dev/null | head -n 1)
    [ -n "$panel" ] || fail "no tray panel"
    read -r x y w h <<< "$(window_geometry "$panel")"
    xdotool mousemove "$((x + w / 2))" "$((y + h / 2))" click 1
}
popover_is_open() { [ -n "$(popover_window)" ]; }
# Opens the popover from the tray icon (unless it is open) and gives it the password.
open_popover_main_page() {
    if ! popover_is_open; then
        click_tray_icon
        wait_until 5 popover_is_open || fail "the tray icon did not open the popover"
    fi
    wait_until 1 false || true
    xdotool type --delay 15 "Open Sesame"
    xdotool key Return
    wait_until 1 false || true
}
popover_window() {
    local window
    for window in $(xdotool search --onlyvisible --name "^Vaultine\$" 2>/dev/null); do
        if [ "$(window_geometry "$window" | awk '{print $3}')" -ge 300 ]; then
            echo "$window"
            return 0
        fi
    done
    return 0
}

stop_programs
clear_settings
install_test_app
store_setting Password "Open Sesame"
store_setting Administrative 1
start_vaultine
wait_for_line "Monitoring services started"
wait_until 10 popover_is_open || fail "the popover did not open at start-up"
open_popover_main_page

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
