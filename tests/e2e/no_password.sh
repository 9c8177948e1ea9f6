#!/usr/bin/env bash
# First launch without a stored password: Vaultine says it will not start protection and Corvane
# is not launched.
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
log "ok"
