#!/usr/bin/env bash
# While locked, Alt+Tab, the Super key, a click on the application, activating its window and a
# new override-redirect window on top all leave the lock on top and holding the keyboard.
. "$(dirname "$0")/lib.sh"

prepare_locked_test_app "Open Sesame"
start_vaultine
wait_for_line "Monitoring services started"
launch_test_app
wait_until 10 lock_is_up || fail "the test application was not locked"
lock=$(lock_window)
app_window=$(xdotool search --onlyvisible --name "$TEST_APP_NAME" | head -n 1)
[ -n "$app_window" ] || fail "the test application has no window"

vaultine_on_top() {
    local top
    top=$(topmost_window)
    visible_windows_of $(vaultine_pids) | grep -qx "$top"
}
lock_holds() {
    wait_until 3 vaultine_on_top || fail "after $1 the lock is not on top"
    wait_until 3 focus_is_in "$lock" || fail "after $1 the lock window lost the focus"
}
# The window manager may move the X focus to a window it activates; the lock's keyboard grab
# still takes every key (the password typed at the end proves it).
lock_stays_on_top() {
    wait_until 3 vaultine_on_top || fail "after $1 the lock is not on top"
    focus_is_in "$lock" || log "note: after $1 the X focus is outside the lock; the grab holds"
}

xdotool key alt+Tab
lock_holds "Alt+Tab"
xdotool key super
lock_holds "the Super key"
xdotool mousemove 300 200 click 1
lock_holds "a click on the application"
xdotool windowactivate "$app_window" 2>/dev/null || true
lock_stays_on_top "activating the application's window"

# Another program's override-redirect window, mapped above everything.
setsid xmessage -name e2e-intruder -xrm '*overrideRedirect: true' -geometry 401x151+203+207 \
    "intruder" >/dev/null 2>&1 < /dev/null &
intruder=$!
# Override-redirect shells carry no name; the window is found by its odd geometry.
intruder_mapped() {
    local window
    window=$(xwininfo -root -children | awk '/401x151\+203\+207/{print $1; exit}')
    [ -n "$window" ] && xwininfo -id "$window" | grep -q IsViewable
}
wait_until 5 intruder_mapped || fail "the override-redirect window did not map"
lock_stays_on_top "a new override-redirect window"
screenshot defences-held

# The keyboard still goes to the lock: the password typed now opens it.
xdotool type --delay 15 "Open Sesame"
xdotool key Return
wait_until 5 lock_is_down || fail "typed keys did not reach the lock window"
kill -KILL "$intruder" 2>/dev/null || true
log "ok"
