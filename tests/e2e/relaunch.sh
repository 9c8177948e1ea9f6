#!/usr/bin/env bash
# The two programs restart each other: kill -9 of Corvane prints "Helper Terminated" and a new
# Corvane runs; kill -9 of Vaultine while locked gets it relaunched by Corvane, locked again; a
# stopped program is continued by the other, and a launch made while Vaultine was stopped is locked.
# A second start of Vaultine opens the running one's popover. Only Vaultine may end Corvane.
. "$(dirname "$0")/lib.sh"

prepare_locked_test_app
start_vaultine -psn_0
wait_for_line "Monitoring services started"
wait_until 10 is_running corvane_pids || fail "Corvane was not launched"

# Started again by the user, Vaultine opens the running one's popover and ends.
first=$(vaultine_pids)
windows_before=$(visible_windows_of $first | wc -l)
timeout 10 "$VAULTINE_EXE" || fail "a second Vaultine did not end at once"
more_windows() { [ "$(visible_windows_of $first | wc -l)" -gt "$windows_before" ]; }
wait_until 5 more_windows || fail "a second start did not open the running Vaultine's popover"
[ "$(vaultine_pids)" = "$first" ] || fail "a second start replaced the running Vaultine"

# The terminate notification sent by any other program of the session ends nothing.
dbus-send --session --type=signal /org/vaultine/DistributedNotifications \
    org.vaultine.DistributedNotifications.Posted string:TERMINATE_HELPER_VAULTINE \
    string:"$VAULTINE_ID"
sleep 1
is_running corvane_pids || fail "a terminate notification from another program ended Corvane"

first_corvane=$(corvane_pids)
kill -KILL $first_corvane
wait_for_line "Helper Terminated" 10
new_corvane() { local pid; pid=$(corvane_pids); [ -n "$pid" ] && [ "$pid" != "$first_corvane" ]; }
wait_until 10 new_corvane || fail "no new Corvane after Helper Terminated"

launch_test_app
wait_until 10 lock_is_up || fail "the test application was not locked"
first_vaultine=$(vaultine_pids)
kill -KILL $first_vaultine
new_vaultine() { local pid; pid=$(vaultine_pids); [ -n "$pid" ] && [ "$pid" != "$first_vaultine" ]; }
wait_until 10 new_vaultine || fail "Corvane did not relaunch Vaultine"
wait_until 10 lock_is_up || fail "the relaunched Vaultine did not lock the application again"
screenshot relocked
# The pair is whole again: a Corvane runs beside the new Vaultine.
wait_until 15 is_running corvane_pids || fail "no Corvane beside the relaunched Vaultine"

type_into_lock "Open Sesame" || fail "could not type into the lock"
wait_until 10 lock_is_down || fail "the right password did not release the application"
for app in $(test_app_pids); do kill -KILL "$app"; done
wait_until 10 lock_is_down || fail "the lock stayed up after the application ended"
# The relaunched Corvane waits out its settle time and ends; the one Vaultine starts then stays.
sleep 5
wait_until 15 is_running corvane_pids || fail "no Corvane to continue a stopped Vaultine"
is_running_state() { [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = "$2" ]; }
not_stopped() { ! is_running_state "$1" T; }

stopped_vaultine=$(vaultine_pids)
kill -STOP $stopped_vaultine
launch_test_app
wait_until 12 not_stopped $stopped_vaultine || fail "Corvane did not continue the stopped Vaultine"
wait_until 5 lock_is_up || fail "the launch made while Vaultine was stopped was not locked"
[ "$(vaultine_pids)" = "$stopped_vaultine" ] || fail "the stopped Vaultine was replaced, not continued"
screenshot locked-after-stop
type_into_lock "Open Sesame" || fail "could not type into the lock after the stop"
wait_until 10 lock_is_down || fail "the right password did not release the application"

stopped_corvane=$(corvane_pids)
kill -STOP $stopped_corvane
wait_until 12 not_stopped $stopped_corvane || fail "Vaultine did not continue the stopped Corvane"
log "ok"
