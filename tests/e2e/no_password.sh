#!/usr/bin/env bash
# First launch without a stored password: Vaultine says it will not start protection and Corvane
# is not launched. A keyring locked before Vaultine starts is no answer, not "no password": no
# greeting, one line saying so, and protection once the keyring is unlocked. Then what another
# program of the user does to the store: a deleted password item is written back; a keyring
# locked before Vaultine is killed, and a defaults file deleted or replaced by a folder while a
# lock is up, never lower protection after the relaunch.
. "$(dirname "$0")/lib.sh"

stop_programs
clear_settings
start_vaultine
wait_for_line "Will not start. No password"
log_has "Monitoring services started" && fail "protection started without a password"
# Corvane would be launched right after the start line; give it a generous moment to appear.
if wait_until 3 is_running corvane_pids; then
    fail "Corvane was launched without a password"
fi
is_running vaultine_pids || fail "Vaultine did not keep running"

has_greeting() { [ -n "$(xdotool search --onlyvisible --name '^Welcome to Vaultine$' 2>/dev/null)" ]; }
prepare_locked_test_app "Open Sesame"
: > "$VAULTINE_LOG"
lock_keyring
start_vaultine
wait_for_line "The keyring is locked or not answering"
log_has "Will not start. No password" && fail "a locked keyring was taken for no password"
if wait_until 3 has_greeting; then fail "a locked keyring brought up the first-run greeting"; fi
is_gone corvane_pids || fail "Corvane was launched while the keyring was locked"
screenshot keyring-locked
unlock_keyring || fail "the keyring could not be unlocked"
wait_for_line "Monitoring services started" 15
has_greeting && fail "the greeting appeared although a password is stored"
launch_test_app
wait_until 10 lock_is_up || fail "the test application was not locked once the keyring answered"
type_into_lock "Open Sesame" || fail "the lock window did not take the password"
wait_until 5 lock_is_down || fail "the stored password did not open the lock"

stored_password() {
    [ "$(secret-tool lookup xdg:schema org.vaultine.Keychain account "$VAULTINE_ID (Password)")" = "Open Sesame" ]
}
clear_setting Password
wait_until 5 stored_password || fail "the deleted password item was not written back"
wait_until 10 is_running corvane_pids || fail "Corvane is not running"

# Locked and still locked three seconds later, whatever is typed short of the password.
locked_within_a_second() {
    wait_until 1 lock_is_up || fail "$1: the test application was not locked within a second"
    sleep 3
    lock_is_up || fail "$1: the lock did not hold for three seconds"
}
relaunched_vaultine() {
    local before=$1
    kill -KILL "$before"
    wait_until 15 eval '[ -n "$(vaultine_pids)" ] && [ "$(vaultine_pids)" != "$before" ]' ||
        fail "Corvane did not relaunch Vaultine"
}

lock_keyring
relaunched_vaultine "$(vaultine_pids)"
wait_until 20 eval '[ "$(grep -c "Monitoring services started" "$VAULTINE_LOG")" -ge 2 ]' ||
    fail "a Vaultine started with the keyring locked did not protect"
launch_test_app
locked_within_a_second "keyring locked at start"
type_into_lock "Open Sesame" || fail "the lock window did not take text"
sleep 1
lock_is_up || fail "a password the keyring cannot check opened the lock"
screenshot keyring-locked-lock
unlock_keyring || fail "the keyring could not be unlocked"
sleep 1
xdotool key ctrl+a BackSpace
type_into_lock "Open Sesame" || fail "the lock window did not take the password"
wait_until 5 lock_is_down || fail "the password did not open the lock once the keyring answered"

for app in $(test_app_pids); do kill -KILL "$app"; done
launch_test_app
wait_until 5 lock_is_up || fail "the test application was not locked"
for broken in deleted folder; do
    rm -rf "$XDG_CONFIG_HOME/$VAULTINE_ID/defaults.json"
    [ "$broken" = folder ] && mkdir "$XDG_CONFIG_HOME/$VAULTINE_ID/defaults.json"
    relaunched_vaultine "$(vaultine_pids)"
    wait_until 10 lock_is_up || fail "defaults $broken: the lock was not restored after the relaunch"
    sleep 3
    lock_is_up || fail "defaults $broken: the lock did not hold"
done
rm -rf "$XDG_CONFIG_HOME/$VAULTINE_ID/defaults.json"
log "ok"
