#!/usr/bin/env bash
# Lock latency benchmark: starts Vaultine (popover closed) with one application locked inside a
# private desktop session and runs LockLatencyBench against it. Prints the figures.
#   VAULTINE_BUNDLE=<build>/Vaultine.app bench/lock-latency.sh [LAUNCHES] [KILLS] [APPLICATION [ARGS...]]
# Without APPLICATION the tests' stand-in application is locked; with one (/usr/bin/xlogo,
# /usr/bin/xterm) a desktop entry naming it is written and locked. BENCH_IDLE_SECONDS (30) and
# BENCH_EXTRA_PROCESSES (300) size the idle measurement; BENCH_VERBOSE=1 prints each launch.
# BENCH_GUARD=1 (as root) runs the build tree's system guard beside Vaultine, so that each launch
# is held in the kernel until its lock is up.
E2E_ARTIFACTS=${E2E_ARTIFACTS:-$(dirname "${VAULTINE_BUNDLE:?}")/bench-artifacts}
export E2E_ARTIFACTS VAULTINE_SOURCE_DIR=${VAULTINE_SOURCE_DIR:-$(cd "$(dirname "$0")/.." && pwd)}
. "$VAULTINE_SOURCE_DIR/tests/e2e/lib.sh"

launches=${1:-50}
kills=${2:-5}
shift 2 2>/dev/null || shift $#
prepare_locked_test_app
if [ $# -gt 0 ]; then
    application=$1; shift
    arguments=("$@")
    printf '[Desktop Entry]\nType=Application\nName=Benchmark %s\nExec=%s\n' \
        "$(basename "$application")" "$application" \
        > "$XDG_DATA_HOME/applications/org.vaultine.BenchTarget.desktop"
    store_setting Applications "org.vaultine.BenchTarget;"
else
    application=$TEST_APP_EXE
    arguments=(-geometry 300x100+50+50 bench)
fi
if [ "${BENCH_GUARD:-0}" = 1 ]; then
    guard_dir=$(mktemp -d)
    mkdir -p "$guard_dir/state" "$guard_dir/run"
    "$(dirname "$VAULTINE_BUNDLE")/guard/vaultine-guard" --state-dir "$guard_dir/state" \
        --runtime-dir "$guard_dir/run" > "$E2E_ARTIFACTS/guard.log" 2>&1 &
    guard_pid=$!
    trap 'status=$?; kill $guard_pid 2>/dev/null; wait $guard_pid 2>/dev/null; rm -rf "$guard_dir"
          (exit $status); cleanup' EXIT
    wait_until 5 test -S "$guard_dir/run/socket" || fail "the guard made no socket"
    export VAULTINE_GUARD_RUNTIME_DIR=$guard_dir/run
fi
# "-psn_" keeps the popover closed, as after a start at login.
setsid "$VAULTINE_EXE" -psn_0 >> "$VAULTINE_LOG" 2>&1 < /dev/null &
wait_for_line "Monitoring services started"
[ "${BENCH_GUARD:-0}" = 1 ] && wait_for_line "Protected by the system guard" 10
wait_until 10 is_running corvane_pids || fail "Corvane was not launched"
sleep 5  # the start-up's settling (Corvane's relaunch check) is not idle time
"$(dirname "$VAULTINE_BUNDLE")/bench/LockLatencyBench" --application "$application" \
    --vaultine "$VAULTINE_EXE" --corvane "$CORVANE_EXE" --launches "$launches" --kills "$kills" \
    --idle-seconds "${BENCH_IDLE_SECONDS:-30}" --extra-processes "${BENCH_EXTRA_PROCESSES:-300}" \
    -- "${arguments[@]}"
rm -f "$XDG_DATA_HOME/applications/org.vaultine.BenchTarget.desktop"
