#!/usr/bin/env bash
# Vaultine in a Wayland session (headless sway): it runs as a Wayland client with no X display,
# its status item reaches the bar's StatusNotifierItem host, a second start opens the popover, a
# launch of the locked test application (foot, a Wayland terminal) shows the lock window, and the
# right password typed there removes it. Screenshots are kept.
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

launch_test_app
wait_for_line "Will start: " 10
wait_until 10 vaultine_window || fail "no lock window"
# Nothing holds the focus for the lock in this session: the terminal's window, mapped after it,
# takes the focus, and the user clicks the lock window to type.
swaymsg "[pid=$(vaultine_pids)] focus" >/dev/null
wait_until 10 vaultine_window 1 || fail "the lock window does not take the focus"
# The lock screen's dark grey, RGB 65, 68, 75.
wait_until 10 window_colour_is "#41444B" ||
    fail "the lock window shows $(vaultine_window_colour), not the lock screen's #41444B"
screenshot locked
wtype "Open Sesame"
wtype -k Return
wait_until 10 no_vaultine_window || fail "the right password left the lock window up"
wait_until 10 has_sway_window "$(test_app_pids)" || fail "the test application shows no window"
is_running test_app_pids || fail "the test application ended"
screenshot unlocked
log "ok"
