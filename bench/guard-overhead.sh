#!/usr/bin/env bash
# The system guard's cost (as root): EXECS fork+exec of /bin/true by an ordinary user (nobody)
# without and with vaultine-guard running (temporary state and runtime folders, one program locked
# for nobody), each after a warm-up, alternated ROUNDS times; then the guard's CPU and wake-ups over
# IDLE_SECONDS with nothing held. Prints the figures; asserts nothing about time.
#   bench/guard-overhead.sh [GUARD_PROGRAM] [EXECS] [IDLE_SECONDS] [ROUNDS]
set -euo pipefail
guard=${1:-$(cd "$(dirname "$0")/.." && pwd)/build/guard/vaultine-guard}
execs=${2:-1000}
idle=${3:-30}
rounds=${4:-2}
[ "$(id -u)" -eq 0 ] || { echo "guard-overhead: the guard runs as root"; exit 1; }
[ -x "$guard" ] || { echo "guard-overhead: no guard at $guard"; exit 1; }

work=$(mktemp -d /tmp/guard-bench-XXXXXX)
chmod 755 "$work"
guard_pid=
stop_guard() {
    [ -n "$guard_pid" ] || return 0
    kill -TERM "$guard_pid" 2>/dev/null || true
    wait "$guard_pid" 2>/dev/null || true
    guard_pid=
}
trap 'stop_guard; rm -rf "$work"' EXIT

# A copy of /bin/sleep locked for nobody by path, so that the guard judges with a policy loaded.
cp /bin/sleep "$work/locked-sleep"
mkdir -m 700 "$work/state"
path_hex=$(printf '%s' "$work/locked-sleep" | od -An -tx1 | tr -d ' \n')
printf 'vaultine-guard-policy 1\nswitches 1\nprogram %s %s - %s\n' \
    "$(stat -c %d "$work/locked-sleep")" "$(stat -c %i "$work/locked-sleep")" "$path_hex" \
    > "$work/state/65534"
chmod 600 "$work/state/65534"

start_guard() {
    "$guard" --state-dir "$work/state" --runtime-dir "$work/run" &
    guard_pid=$!
    for _ in $(seq 100); do
        [ -S "$work/run/socket" ] && return 0
        sleep 0.05
    done
    echo "guard-overhead: the guard did not start"
    exit 1
}

# Microseconds for N fork+exec of /bin/true by nobody.
time_execs() {
    local start end
    start=$(date +%s%N)
    setpriv --reuid=65534 --regid=65534 --clear-groups \
        sh -c 'i=0; while [ $i -lt "$1" ]; do /bin/true; i=$((i + 1)); done' sh "$1"
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}

measure() {
    time_execs 100 > /dev/null  # warm-up
    time_execs "$execs"
}

total_without=0
total_with=0
for round in $(seq "$rounds"); do
    without=$(measure)
    start_guard
    with=$(measure)
    stop_guard
    rm -f "$work/run/socket"
    total_without=$((total_without + without))
    total_with=$((total_with + with))
    printf 'round %d: %d execs without the guard %d.%03d ms, with it %d.%03d ms\n' "$round" \
        "$execs" $((without / 1000)) $((without % 1000)) $((with / 1000)) $((with % 1000))
done
percent=$(awk -v a="$total_without" -v b="$total_with" 'BEGIN { printf "%+.1f", (b - a) * 100 / a }')
printf 'exec cost: %d.%03d ms without, %d.%03d ms with the guard per %d execs (%s %%)\n' \
    $((total_without / rounds / 1000)) $((total_without / rounds % 1000)) \
    $((total_with / rounds / 1000)) $((total_with / rounds % 1000)) "$execs" "$percent"

# Idle: CPU ticks (utime + stime) and context switches (each one a wake-up of its only thread
# that does work) over the period, while nothing is held.
start_guard
time_execs 100 > /dev/null
sleep 1
cpu() { awk '{ print $14 + $15 }' "/proc/$guard_pid/stat"; }
switches() {
    awk '/^(voluntary|nonvoluntary)_ctxt_switches/ { n += $2 } END { print n }' \
        "/proc/$guard_pid/status"
}
switches_of_threads() {
    cat /proc/"$guard_pid"/task/*/status |
        awk '/^(voluntary|nonvoluntary)_ctxt_switches/ { n += $2 } END { print n }'
}
cpu_before=$(cpu)
main_before=$(switches)
all_before=$(switches_of_threads)
sleep "$idle"
ticks=$(($(cpu) - cpu_before))
hz=$(getconf CLK_TCK)
printf 'idle over %d s: CPU %d ms, %d wake-ups of the loop, %d of all its threads\n' "$idle" \
    $((ticks * 1000 / hz)) $(($(switches) - main_before)) $(($(switches_of_threads) - all_before))
