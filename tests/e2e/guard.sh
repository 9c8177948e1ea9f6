#!/usr/bin/env bash
# The system guard holds what the user cannot undo. The session runs as an ordinary user
# (vaultine-e2e, created when missing); the guard runs as root from the build tree with private
# state and runtime folders. Everything the user does runs as that user (`as_user`).
#
#  1. Vaultine is guarded; a launch of the locked xterm is held until the lock is up, before any
#     xterm window maps; the password releases it. Other users' runs of xterm are not held.
#  2. Vaultine and Corvane killed together: a launch is frozen until Vaultine is back with its lock.
#  3. Both stopped: the same; and a run under a lock, once both are stopped.
#  4. A lock up, then both killed: the run is frozen within a second and typed keys reach nothing.
#  5. A one-byte-changed copy of xterm run from /tmp is held.
#  6. The keyring's password deleted while neither runs: locks hold, the guard checks the password,
#     which goes back into the keyring.
#  7. A copy of the bundle, and the bundle under LD_PRELOAD, are not Vaultine to the guard and
#     release nothing.
#  8. The guard killed and restarted: a run started meanwhile is the guard's once it is back.
#  9. The user's debugger cannot attach to Vaultine (strace, else a bare PTRACE_ATTACH), so it cannot
#     be made to tell the guard a lock is shown; the guard still takes it.
# 10. The genuine bundle drawing on an X server of the user's own is not taken to cover anything.
#
# The guard runs in a mount namespace of its own where logind's records (/run/systemd/sessions,
# /run/systemd/users) say that the user's graphical session is an X11 one on this display, so that
# it judges Vaultine's display throughout.
#
# What the guard cannot do yet is logged as "KNOWN GAP" (and listed in known-gaps.txt) instead of
# failing the test.
E2E_USER=vaultine-e2e
if [ -z "${VAULTINE_SESSION_USER:-}" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "[guard] the system guard's test runs as root; skipped" >&2
        exit 77
    fi
    id -u "$E2E_USER" >/dev/null 2>&1 || useradd --create-home "$E2E_USER"
    exec "$(dirname "$0")/../../scripts/desktop-session.sh" run --user "$E2E_USER" -- bash "$0" "$@"
fi
. "$(dirname "$0")/lib.sh"

PASSWORD="Open Sesame"
GUARD_EXE=$(dirname "$VAULTINE_BUNDLE")/guard/vaultine-guard
GUARD_LOG=$E2E_ARTIFACTS/guard.log
GUARD_STATE=$(mktemp -d)
GUARD_RUNTIME=$(mktemp -d)
chmod 755 "$GUARD_RUNTIME"
export VAULTINE_GUARD_RUNTIME_DIR=$GUARD_RUNTIME
: > "$GUARD_LOG"
: > "$E2E_ARTIFACTS/known-gaps.txt"
XTERM_COPY=/tmp/vaultine-e2e-xterm.$$
if [ -d /sys/fs/cgroup/freezer/vaultine-guard.frozen ] || [ -f /sys/fs/cgroup/freezer/tasks ]; then
    FREEZER=/sys/fs/cgroup/freezer
else
    FREEZER=/sys/fs/cgroup
fi
FROZEN=$FREEZER/vaultine-guard.frozen

# The guard trusts the bundle only when it and every folder above it are root's and writable by
# root alone; a build tree checked out otherwise is named at once rather than failing later.
path=$(readlink -f "$VAULTINE_EXE")
while [ -n "$path" ]; do
    [ "$(stat -c %u "$path")" = 0 ] && [ $((0$(stat -c %a "$path") & 022)) = 0 ] ||
        fail "the guard will not trust $VAULTINE_EXE: $path is not root's alone"
    path=${path%/*}
done

known_gap() {
    log "KNOWN GAP: $*"
    echo "$*" >> "$E2E_ARTIFACTS/known-gaps.txt"
}

LOGIND_RECORDS=$(mktemp -d)
mkdir -p "$LOGIND_RECORDS/sessions" "$LOGIND_RECORDS/users"
chmod -R 755 "$LOGIND_RECORDS"
printf 'UID=%s\nUSER=%s\nACTIVE=1\nTYPE=x11\nDISPLAY=%s\n' "$(id -u "$VAULTINE_SESSION_USER")" \
    "$VAULTINE_SESSION_USER" "$DISPLAY" > "$LOGIND_RECORDS/sessions/e2e"
printf 'NAME=%s\nRUNTIME=/run/user/%s\nDISPLAY=e2e\n' "$VAULTINE_SESSION_USER" \
    "$(id -u "$VAULTINE_SESSION_USER")" > "$LOGIND_RECORDS/users/$(id -u "$VAULTINE_SESSION_USER")"
# Without logind's folders to put them on, the guard runs as it is and judges no display.
JUDGES_DISPLAY=
[ -d /run/systemd/sessions ] && [ -d /run/systemd/users ] && JUDGES_DISPLAY=1

start_guard() {
    rm -f "$GUARD_RUNTIME/socket"
    local mounts=()
    # shellcheck disable=SC2016
    [ -n "$JUDGES_DISPLAY" ] && mounts=(unshare --mount --propagation private -- sh -c '
        mount --bind "$1/sessions" /run/systemd/sessions &&
            mount --bind "$1/users" /run/systemd/users && shift && exec "$@"' sh "$LOGIND_RECORDS")
    "${mounts[@]}" "$GUARD_EXE" --state-dir "$GUARD_STATE" --runtime-dir "$GUARD_RUNTIME" \
        >> "$GUARD_LOG" 2>&1 &
    GUARD_PID=$!
    wait_until 10 test -S "$GUARD_RUNTIME/socket" || fail "the guard did not start (see $GUARD_LOG)"
}
stop_guard() {
    [ -n "${GUARD_PID:-}" ] || return 0
    kill -TERM "$GUARD_PID" 2>/dev/null || true
    wait_until 5 eval '! kill -0 "$GUARD_PID" 2>/dev/null' || kill -KILL "$GUARD_PID" 2>/dev/null || true
    wait "$GUARD_PID" 2>/dev/null || true
    GUARD_PID=
}

# xterm runs, newest last; each writes the keys it receives to $HOME/keys-TITLE at once.
xterm_pids() { session_pids /usr/bin/xterm; session_pids "$XTERM_COPY"; }
newest_xterm() { xterm_pids | sort -n | tail -n 1; }
launch_xterm() {  # TITLE [PROGRAM]
    as_user setsid "${2:-xterm}" -geometry 80x10+200+200 -title "$1" \
        -e sh -c "stty raw -echo; exec cat > '$HOME/keys-$1'" >/dev/null 2>&1 < /dev/null &
}
end_xterms() {
    local pid
    for pid in $(xterm_pids); do as_user kill -KILL "$pid" 2>/dev/null || true; done
    wait_until 5 eval '[ -z "$(xterm_pids)" ]' || fail "xterm did not end"
}
keys_reached() { [ -s "$HOME/keys-$1" ]; }

# A run is frozen when it is in the guard's frozen cgroup and the kernel has stopped it.
is_frozen() {
    grep -qx "$1" "$FROZEN/cgroup.procs" 2>/dev/null &&
        [[ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" =~ ^[DT]$ ]]
}
run_state() {
    echo "run ${1:-none}: state $(awk '{print $3}' "/proc/${1:-0}/stat" 2>/dev/null)," \
        "frozen cgroup holds: $(tr '\n' ' ' < "$FROZEN/cgroup.procs")"
}
# Runs of this session in the frozen cgroup, newest last: one frozen before its exec of xterm
# completed still shows the program that called it.
frozen_runs() {
    local pid
    for pid in $(sort -n "$FROZEN/cgroup.procs" 2>/dev/null); do
        { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null |
            grep -qx "VAULTINE_SESSION_DIR=$VAULTINE_SESSION_DIR" && echo "$pid"
    done
}
is_not_frozen() { ! grep -qx "$1" "$FROZEN/cgroup.procs" 2>/dev/null; }
has_window() { [ -n "$(visible_windows_of "$1")" ]; }
# Killed runs of ours left in the frozen cgroup end once moved out of it.
thaw_ended() {
    local pid
    for pid in $(cat "$FROZEN/cgroup.procs" 2>/dev/null); do
        [ "$(stat -c %u "/proc/$pid" 2>/dev/null)" = "$(id -u "$E2E_USER")" ] || continue
        kill -KILL "$pid" 2>/dev/null || true
        echo "$pid" > "$FREEZER/cgroup.procs" 2>/dev/null || true
    done
}

# One kill of both; killed, each may start the other again in the moment between the two
# signals, so the user kills again what came back.
kill_pair() {  # SIGNAL
    as_user kill "-$1" $(vaultine_pids) $(corvane_pids) 2>/dev/null || true
    [ "$1" = KILL ] || return 0
    local round
    for round in 1 2 3; do
        wait_until 2 eval '[ -z "$(vaultine_pids)$(corvane_pids)" ]' && return 0
        as_user kill -KILL $(vaultine_pids) $(corvane_pids) 2>/dev/null || true
    done
    fail "Vaultine and Corvane did not end"
}
protected_count() { grep -c "Protected by the system guard" "$VAULTINE_LOG" || true; }
start_guarded_vaultine() {
    local before
    before=$(protected_count)
    start_vaultine -psn_0
    wait_until 20 eval '[ "$(protected_count)" -gt "$before" ]' ||
        fail "Vaultine did not say it is protected by the system guard"
}
release() {  # WHAT
    type_into_lock "$PASSWORD" || fail "could not type into the lock ($1)"
    wait_until 10 lock_is_down || fail "the right password did not release $1"
}
# A launch while no Vaultine answers: frozen, no window, until Vaultine is back with its lock.
expect_frozen_launch() {  # WHAT
    launch_xterm "$1"
    wait_until 5 eval '[ -n "$(frozen_runs)" ]' || fail "$1: the launch was not frozen"
    local run
    run=$(frozen_runs | tail -n 1)
    wait_until 2 is_frozen "$run" || fail "$1: the run was not stopped ($(run_state "$run"))"
    sleep 1
    is_frozen "$run" || fail "$1: the run thawed by itself"
    has_window "$run" && fail "$1: a window of the frozen run mapped"
    screenshot "frozen-${1}"
    log "$1: frozen, no window"
    FROZEN_RUN=$run
}
expect_locked_again() {  # WHAT
    wait_until 15 lock_is_up || fail "$1: no lock once Vaultine was back"
    wait_until 5 is_not_frozen "$FROZEN_RUN" || fail "$1: the run stayed frozen under the lock"
    release "$1"
    wait_until 5 has_window "$FROZEN_RUN" || fail "$1: the released run shows no window"
    end_xterms
}

# Root-owned, the order of the root window's maps and reparentings, to tell which mapped first.
MAPS=$E2E_ARTIFACTS/maps.txt
start_map_log() {
    : > "$MAPS"
    stdbuf -oL xev -root -event substructure -event property > "$MAPS" 2>&1 &
    MAP_LOGGER=$!
    wait_until 5 eval 'xprop -root -f _E2E_MARK 8s -set _E2E_MARK x; grep -q _E2E_MARK "$MAPS"' ||
        fail "xev did not start"
}
# The first line where window $1 (hex), or the frame it was reparented into, is mapped.
first_map_line() {
    awk -v w="$1" '
        /^(MapNotify|ReparentNotify)/ { kind = $1; next }
        kind == "ReparentNotify" && $4 == w"," { frame[$6] = 1; sub(/,$/, "", $6); frame[$6] = 1 }
        kind == "MapNotify" { id = $4; sub(/,$/, "", id); if (id == w || (id in frame)) { print NR; exit } }
        { kind = "" }' "$MAPS"
}

guard_cleanup() {
    local status=$?
    [ -n "${MAP_LOGGER:-}" ] && kill "$MAP_LOGGER" 2>/dev/null || true
    local pid
    for pid in $(xterm_pids); do kill -KILL "$pid" 2>/dev/null || true; done
    thaw_ended
    stop_programs
    stop_guard
    thaw_ended
    [ -n "${OWN_X:-}" ] && kill "$OWN_X" 2>/dev/null || true
    rm -rf "$GUARD_STATE" "$GUARD_RUNTIME" "$XTERM_COPY" "$LOGIND_RECORDS"
    [ "$status" -eq 0 ] && [ -s "$E2E_ARTIFACTS/known-gaps.txt" ] &&
        sed 's/^/[guard] known gap: /' "$E2E_ARTIFACTS/known-gaps.txt" >&2
    (exit $status)
    cleanup
}
trap guard_cleanup EXIT

stop_programs
clear_settings
store_setting Password "$PASSWORD"
store_setting Applications "debian-xterm;"
store_setting Administrative 0
store_setting Active 1
start_guard
start_guarded_vaultine
wait_until 10 is_running corvane_pids || fail "Corvane was not launched"
[ "$(stat -c %u "/proc/$(vaultine_pids)")" = "$(id -u "$E2E_USER")" ] ||
    fail "Vaultine does not run as $E2E_USER"

log "1. a launch of xterm is held until its lock is up"
start_map_log
launch_xterm held
wait_for_line "Held by the system guard"
wait_until 10 lock_is_up || fail "the held xterm was not locked"
run=$(newest_xterm)
wait_until 10 has_window "$run" || fail "xterm showed no window under the lock"
kill "$MAP_LOGGER"; MAP_LOGGER=
lock_line=$(first_map_line "$(printf '0x%x' "$(lock_window)")")
xterm_line=$(first_map_line "$(printf '0x%x' "$(visible_windows_of "$run" | head -n 1)")")
[ -n "$lock_line" ] && [ -n "$xterm_line" ] || fail "the maps of the lock and xterm were not seen"
[ "$lock_line" -lt "$xterm_line" ] || fail "an xterm window mapped before the lock"
screenshot held-locked
release "the held xterm"
has_window "$run" || fail "the released xterm shows no window"
end_xterms
log "1. held, locked before xterm mapped, released by the password"
# The user's policy is the user's alone: the same program run by another user or by root goes on.
for other in "--reuid=65534 --regid=65534 --clear-groups" ""; do
    # shellcheck disable=SC2086
    timeout 5 setpriv $other /usr/bin/xterm -version >/dev/null 2>&1 ||
        fail "xterm run by ${other:+another user}${other:-root} was held by the user's policy"
done
log "1. another user's and root's runs of xterm were not held"

log "2. Vaultine and Corvane killed together"
kill_pair KILL
expect_frozen_launch "after-kill"
start_guarded_vaultine
expect_locked_again "after-kill"

log "3. Vaultine and Corvane stopped"
kill_pair STOP
expect_frozen_launch "after-stop"
kill_pair CONT
expect_locked_again "after-stop"
launch_xterm stop-under-lock
wait_until 10 lock_is_up || fail "xterm was not locked"
run=$(newest_xterm)
kill_pair STOP
if wait_until 2 is_frozen "$run"; then
    log "3. a run under a lock is frozen once Vaultine is stopped"
else
    known_gap "kill -STOP of Vaultine and Corvane while a lock covers xterm: the run is not frozen" \
        "(the guard does not notice a stopped Vaultine that stays connected)"
fi
kill_pair CONT
release "xterm after the stop"
end_xterms

log "4. a lock up, then Vaultine and Corvane killed"
launch_xterm typed
wait_until 10 lock_is_up || fail "xterm was not locked"
run=$(newest_xterm)
wait_until 10 has_window "$run" || fail "xterm showed no window under the lock"
kill_pair KILL
wait_until 1 is_frozen "$run" || fail "the run under the lock was not frozen within a second"
has_window "$run" && known_gap "xterm frozen once the lock's Vaultine was killed keeps its window" \
    "mapped, showing what it showed under the lock"
as_user xdotool windowactivate "$(visible_windows_of "$run" | head -n 1)" 2>/dev/null || true
as_user xdotool type --delay 15 "echo typed while frozen"
as_user xdotool key Return
sleep 1
keys_reached typed && fail "keys typed while the run was frozen reached it"
screenshot frozen-under-no-lock
start_guarded_vaultine
wait_until 15 lock_is_up || fail "no lock once Vaultine was back"
sleep 1
keys_reached typed &&
    fail "keys typed at the frozen xterm reached it under the next lock: $(tr -c '[:print:]' '.' < "$HOME/keys-typed")"
release "xterm after the kill under the lock"
end_xterms
log "4. frozen within a second, typed keys reached nothing while frozen"

log "5. a one-byte-changed copy of xterm in /tmp"
as_user cp /usr/bin/xterm "$XTERM_COPY"
# A byte of the debug link's file name: not loaded, so the copy still runs.
offset=$(readelf -S -W "$XTERM_COPY" |
    awk '{for (i = 1; i <= NF; i++) if ($i == ".gnu_debuglink") print $(i + 3)}')
[ -n "$offset" ] || fail "no debug link to change in the copy"
offset=$((16#$offset))
printf 'Z' | as_user dd of="$XTERM_COPY" bs=1 seek="$offset" conv=notrunc status=none
cmp -s /usr/bin/xterm "$XTERM_COPY" && fail "the copy was not changed"
held_before=$(grep -c "Held by the system guard" "$VAULTINE_LOG")
launch_xterm copy "$XTERM_COPY"
wait_until 10 eval '[ "$(grep -c "Held by the system guard" "$VAULTINE_LOG")" -gt "$held_before" ]' ||
    fail "the changed copy was not held by the guard"
wait_until 10 lock_is_up || fail "the changed copy was not locked"
screenshot copy-locked
release "the changed copy"
end_xterms
log "5. the changed copy was held and locked"

log "6. the keyring's password deleted while neither program runs"
kill_pair KILL
clear_setting Password
start_guarded_vaultine
launch_xterm keyring
wait_until 10 lock_is_up || fail "xterm was not locked without the keyring's password"
type_into_lock "not the password" || fail "could not type into the lock"
sleep 2
lock_is_up || fail "a wrong password opened the lock"
as_user xdotool key ctrl+a BackSpace
release "xterm with the guard's password"
stored_password() {
    [ "$(as_user secret-tool lookup xdg:schema org.vaultine.Keychain account "$VAULTINE_ID (Password)")" = "$PASSWORD" ]
}
wait_until 10 stored_password || fail "the password the guard took did not go back into the keyring"
end_xterms
log "6. the guard's password opened the lock and went back into the keyring"

log "7. a copy of the bundle and the bundle under LD_PRELOAD are not Vaultine to the guard"
as_user cp -r "$VAULTINE_BUNDLE" "$HOME/Vaultine.app"
# A run frozen under a lock of the genuine Vaultine, killed with Corvane: the impostor locks it
# again as the run it was locking, takes the password, and the guard keeps the run frozen.
refused_by_guard() {  # WHAT TITLE SETUP [WHY]
    kill_pair KILL
    start_guarded_vaultine
    launch_xterm "$2"
    wait_until 10 lock_is_up || fail "$1: xterm was not locked"
    local run
    run=$(newest_xterm)
    kill_pair KILL
    wait_until 1 is_frozen "$run" || fail "$1: the run was not frozen"
    (
        eval "$3"
        : > "$VAULTINE_LOG"
        start_vaultine -psn_0
        wait_for_line "${4:-does not take this Vaultine for the installed one}" 30
        log "$1: the guard refused it"
        wait_until 10 lock_is_up || fail "$1 did not lock the run it found"
        type_into_lock "$PASSWORD" || fail "$1: could not type into its lock"
        wait_until 10 lock_is_down || fail "$1: its own lock did not take the password"
        sleep 1
        is_frozen "$run" || fail "$1 released a frozen run"
        screenshot "refused-$2"
        stop_programs
    )
    relock_or_gap "$1" "$run" "what it released went into KnownInstances of the user's defaults.json"
}
# The genuine Vaultine back, a frozen run is locked again; the known gap: it takes the run for one
# the password released (its user-writable list of known runs) and tells the guard so.
relock_or_gap() {  # WHAT RUN HOW
    start_guarded_vaultine
    if wait_until 15 lock_is_up; then
        release "$1: the run"
    elif is_not_frozen "$2" && wait_until 5 has_window "$2"; then
        known_gap "$1: the genuine Vaultine restarted told the guard the frozen run was released," \
            "which thawed it without the password ($3)"
    else
        fail "$1: the genuine Vaultine did not lock the run again"
    fi
    end_xterms
}
refused_by_guard "a copy of the bundle" bundle-copy '
    VAULTINE_EXE=$HOME/Vaultine.app/Contents/bin/Vaultine
    CORVANE_EXE=$HOME/Vaultine.app/Contents/Library/LoginItems/Corvane.app/Contents/bin/Corvane'
refused_by_guard "the bundle under LD_PRELOAD" preload '
    export LD_PRELOAD=libm.so.6
    export ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0'
as_user rm -rf "$HOME/Vaultine.app"
# No impostor at all: the list of known runs written while neither program runs.
kill_pair KILL
start_guarded_vaultine
launch_xterm known-runs
wait_until 10 lock_is_up || fail "xterm was not locked"
run=$(newest_xterm)
kill_pair KILL
wait_until 1 is_frozen "$run" || fail "the run was not frozen"
printf '{"KnownInstances": "known;all;"}\n' |
    as_user tee "$XDG_CONFIG_HOME/$VAULTINE_ID/defaults.json" >/dev/null
relock_or_gap "a list of known runs written by the user" "$run" \
    "KnownInstances \"known;all;\" written into defaults.json"
log "7. neither was taken for Vaultine; the run stayed frozen whatever they were told"

log "8. the guard killed and restarted"
: > "$VAULTINE_LOG"
wait_until 10 is_running corvane_pids || fail "Corvane was not launched"
kill -KILL "$GUARD_PID"
wait "$GUARD_PID" 2>/dev/null || true
wait_for_line "The system guard went away"
launch_xterm guard-down
wait_until 10 lock_is_up || fail "xterm started while the guard was down was not locked"
run=$(newest_xterm)
start_guard
wait_until 20 eval '[ "$(protected_count)" -ge 1 ]' || fail "Vaultine did not take the guard back"
kill_pair KILL
wait_until 2 is_frozen "$run" ||
    fail "the run started while the guard was down was not frozen once Vaultine was killed"
log "8. the run started while the guard was down is frozen once Vaultine is killed"
start_guarded_vaultine
wait_until 15 lock_is_up || fail "the run started while the guard was down was not locked again"
release "xterm started while the guard was down"
end_xterms

log "9. the user's debugger attached to Vaultine"
# Whether the session's user can attach to process $1: strace stays attached until the timeout.
user_can_attach() {
    local status=0
    if command -v strace >/dev/null; then
        as_user timeout 2 strace -qq -o /dev/null -p "$1" 2>/dev/null || status=$?
    else
        as_user /usr/bin/python3 -c 'import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
pid = int(sys.argv[1])
if libc.ptrace(16, pid, None, None) != 0:  # PTRACE_ATTACH
    sys.exit(1)
os.waitpid(pid, 0)
libc.ptrace(17, pid, None, None)  # PTRACE_DETACH' "$1" || status=$?
    fi
    [ "$status" -ne 1 ]
}
vaultine=$(vaultine_pids)
[ -n "$vaultine" ] || fail "Vaultine is not running"
! user_can_attach "$vaultine" || fail "$E2E_USER attached to Vaultine"
! as_user cat "/proc/$vaultine/environ" >/dev/null 2>&1 || fail "$E2E_USER read Vaultine's memory"
: > "$VAULTINE_LOG"
launch_xterm after-attach
wait_for_line "Held by the system guard"
wait_until 10 lock_is_up || fail "xterm was not locked after the attempt to attach"
release "xterm after the attempt to attach"
end_xterms
log "9. neither attached nor read; the guard still takes Vaultine's lock"

log "10. the genuine bundle on an X server of the user's own"
[ -n "$JUDGES_DISPLAY" ] || { log "10. skipped: no logind folders here"; log "ok"; exit 0; }
own_display_file=$(mktemp)
as_user setsid Xvfb -displayfd 3 -screen 0 1024x768x24 +extension RANDR -nolisten tcp \
    3>"$own_display_file" >/dev/null 2>&1 < /dev/null &
OWN_X=$!
wait_until 10 test -s "$own_display_file" || fail "the user's own X server did not start"
refused_by_guard "the bundle on the user's own X server" own-display \
    "export DISPLAY=:$(cat "$own_display_file")" "does not take this Vaultine's display"
kill "$OWN_X"; OWN_X=
rm -f "$own_display_file"
log "10. its locks covered nothing to the guard; the run stayed frozen"
log "ok"
