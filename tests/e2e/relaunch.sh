#!/usr/bin/env bash
# The two programs restart each other: kill -9 of Corvane prints "Helper Terminated" and a new
# Corvane runs; kill -9 of Vaultine while locked gets it relaunched by Corvane, locked again.
. "$(dirname "$0")/lib.sh"

prepare_locked_test_app
start_vaultine
wait_for_line "Monitoring services started"
wait_until 10 is_running corvane_pids || fail "Corvane was not launched"

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
log "ok"
