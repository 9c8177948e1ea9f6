#!/usr/bin/env bash
# Lock latency benchmark: starts Vaultine with the test application locked inside a private
# desktop session and runs LockLatencyBench against it. Prints the figures.
#   VAULTINE_BUNDLE=<build>/Vaultine.app bench/lock-latency.sh [LAUNCHES] [KILLS]
E2E_ARTIFACTS=${E2E_ARTIFACTS:-$(dirname "${VAULTINE_BUNDLE:?}")/bench-artifacts}
export E2E_ARTIFACTS VAULTINE_SOURCE_DIR=${VAULTINE_SOURCE_DIR:-$(cd "$(dirname "$0")/.." && pwd)}
. "$VAULTINE_SOURCE_DIR/tests/e2e/lib.sh"

prepare_locked_test_app
start_vaultine
wait_for_line "Monitoring services started"
wait_until 10 is_running corvane_pids || fail "Corvane was not launched"
"$(dirname "$VAULTINE_BUNDLE")/bench/LockLatencyBench" --application "$TEST_APP_EXE" \
    --vaultine "$VAULTINE_EXE" --launches "${1:-50}" --kills "${2:-5}"
