#!/usr/bin/env bash
# Sets up, builds and starts Vaultine. In an X session it starts there; without a display it
# starts a private desktop session first, takes a screenshot after a few seconds and tells where.
# The build tree's system guard runs beside it (as root, through sudo) until this script ends.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-packages.sh
cmake --preset default
cmake --build --preset default
VAULTINE=build/Vaultine.app/Contents/bin/Vaultine
GUARD=build/guard/vaultine-guard
GUARD_STATE=$(pwd)/build/guard-state
GUARD_RUN=$(pwd)/build/guard-run
GUARD_LOG=$(pwd)/build/guard.log
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

# The guard takes only a Vaultine whose file and folders are root's and writable by root alone.
owned_by_root() {
    local path
    path=$(readlink -f "$1")
    while :; do
        [ "$(stat -c %u "$path")" = 0 ] && [ -z "$(find "$path" -maxdepth 0 -perm /022)" ] ||
            return 1
        [ "$path" != / ] || return 0
        path=${path%/*}
        path=${path:-/}
    done
}

guard_pid=
stop_guard() {
    # sudo passes the signal on to the guard it runs.
    [ -z "$guard_pid" ] || kill -TERM "$guard_pid" 2>/dev/null || true
    [ -z "$guard_pid" ] || wait "$guard_pid" 2>/dev/null || true
    guard_pid=
}
trap stop_guard EXIT

# Starts the guard on folders of build/ that root owns; true once its socket is there (the guard
# makes it when it holds executions) while it still runs.
start_guard() {
    [ -z "${as_root[*]}" ] || sudo -v || return 1
    "${as_root[@]}" install -d -o root -g root -m 0700 "$GUARD_STATE" || return 1
    "${as_root[@]}" install -d -o root -g root -m 0755 "$GUARD_RUN" || return 1
    "${as_root[@]}" rm -f "$GUARD_RUN/socket"
    "${as_root[@]}" "$GUARD" --state-dir "$GUARD_STATE" --runtime-dir "$GUARD_RUN" \
        < /dev/null > "$GUARD_LOG" 2>&1 &
    guard_pid=$!
    for _ in $(seq 50); do
        [ ! -S "$GUARD_RUN/socket" ] || return 0
        case $(ps -o stat= -p "$guard_pid") in "" | Z*) return 1 ;; esac
        sleep 0.1
    done
    return 1
}

if ! owned_by_root "$VAULTINE"; then
    echo "run: the guard takes only a Vaultine in root's folders, and $VAULTINE is not;" \
        "Vaultine runs with standard protection"
elif start_guard; then
    export VAULTINE_GUARD_RUNTIME_DIR=$GUARD_RUN
    echo "run: the system guard runs (socket $GUARD_RUN/socket, log $GUARD_LOG)"
else
    stop_guard
    echo "run: the system guard could not start (no fanotify here, or sudo refused; see" \
        "$GUARD_LOG); Vaultine runs with standard protection"
fi

if [ -n "${DISPLAY:-}" ]; then
    "$VAULTINE"
    exit
fi

echo "run: no display; starting a private desktop session"
screenshot=$(pwd)/build/vaultine-screenshot.png
scripts/desktop-session.sh run -- bash -c '
    "$0" & pid=$!
    # A program started in the background of a script ignores Ctrl+C: it is passed on.
    trap '"'"'kill "$pid" 2>/dev/null'"'"' INT TERM
    sleep 4
    import -window root "$1" && echo "run: screenshot of the session: $1"
    echo "run: Vaultine runs in the private session on $DISPLAY; press Ctrl+C to stop it"
    wait $pid
' "$VAULTINE" "$screenshot"
