#!/usr/bin/env bash
# First launch without a stored password: Vaultine says it will not start protection and Corvane
# is not launched. A keyring locked before Vaultine starts is no answer, not "no password": no
# greeting, one line saying so, and protection once the keyring is unlocked.
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
log "ok"
