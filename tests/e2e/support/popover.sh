# Helpers of the end-to-end tests that work the tray icon and the popover through real clicks.
# Source it after lib.sh. The popover's password is "Open Sesame", as the tests store it.

window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1; }
has_window() { [ -n "$(window_named "$1")" ]; }
click_in() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
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

# Starts Vaultine with a password stored and opens the popover's main page, which the start-up
# opens by itself.
start_with_popover_open() {
    store_setting Password "Open Sesame"
    store_setting Administrative 1
    start_vaultine
    wait_for_line "Monitoring services started"
    wait_until 10 popover_is_open || fail "the popover did not open at start-up"
    open_popover_main_page
}
