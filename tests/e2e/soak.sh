#!/usr/bin/env bash
# Soak of the real programs: the locked test application launched and ended SOAK_LAUNCHES times
# while Vaultine and Corvane are killed with SIGKILL SOAK_KILLS times at random moments. At the end
# exactly one of each runs, Vaultine holds no more windows, descriptors or memory than the bounds
# allow, and the lock still works with the right password. Prints its figures.
#
#   SOAK_LAUNCHES (40)  SOAK_KILLS (6)  SOAK_SEED (random)  SOAK_UNLOCK_EVERY (50)
#   SOAK_FD_BOUND (8)  SOAK_RSS_BOUND_MIB (30)  SOAK_WARMUP (5)
# The address sanitizer holds back 256 MiB of freed memory by default, which fills over hundreds of
# launches and would read as a leak; a small quarantine keeps the resident figure meaningful. It is
# appended, so that it also holds when the test command has set options of its own (the last
# occurrence of an option wins).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=0}:quarantine_size_mb=4
. "$(dirname "$0")/lib.sh"

LAUNCHES=${SOAK_LAUNCHES:-40}
KILLS=${SOAK_KILLS:-6}
SEED=${SOAK_SEED:-$((($(date +%s%N) / 1000) % 32768))}
UNLOCK_EVERY=${SOAK_UNLOCK_EVERY:-50}
FD_BOUND=${SOAK_FD_BOUND:-8}
RSS_BOUND_KIB=$((${SOAK_RSS_BOUND_MIB:-30} * 1024))
WARMUP=${SOAK_WARMUP:-5}
PASSWORD="Open Sesame"
RANDOM=$SEED

# The kills: one in each of KILLS equal stretches of the run, at a random launch of it and a random
# moment of that launch (before it, while it starts, while it is locked). Vaultine is killed only
# in the first two thirds, so that the last Vaultine lives through a long stretch of launches and
# Corvane kills alone for the leak figures; elsewhere the target is chosen at random.
declare -A planned
for ((slot = 0; slot < KILLS; slot++)); do
    first=$((slot * LAUNCHES / KILLS + 1))
    last=$(((slot + 1) * LAUNCHES / KILLS))
    [ "$last" -ge "$first" ] || last=$first
    launch=$((first + RANDOM % (last - first + 1)))
    target=corvane
    if [ "$launch" -le $((LAUNCHES * 2 / 3)) ] && [ $((RANDOM % 2)) -eq 0 ]; then
        target=vaultine
    fi
    planned[$launch]="${planned[$launch]:-} $((RANDOM % 3)):$target"
done

vaultine_kills=0
corvane_kills=0
lockups=0
unlocks=0
current_vaultine=
vaultine_born_at=0 # the launch after which the current Vaultine started
baseline_fds= baseline_rss= baseline_windows= baseline_at=
first_fds= first_rss= first_windows=

started_count() { grep -c "Monitoring services started" "$VAULTINE_LOG" || true; }
one_vaultine() { [ "$(vaultine_pids | wc -w)" -eq 1 ]; }
one_corvane() { [ "$(corvane_pids | wc -w)" -eq 1 ]; }
app_gone() { is_gone test_app_pids; }

# A new Vaultine runs and has started its protection (its lines go to the same log).
vaultine_is_back() {
    local pid
    pid=$(vaultine_pids)
    [ -n "$pid" ] && [ "$pid" != "$1" ] && [ "$(started_count)" -gt "$2" ]
}
new_corvane() {
    local pid
    pid=$(corvane_pids)
    [ -n "$pid" ] && ! echo "$pid" | grep -qx "$1"
}

kill_one() {
    local target=$1 launch=$2 pid starts
    if [ "$target" = vaultine ]; then
        pid=$(vaultine_pids)
        [ -n "$pid" ] || fail "launch $launch: no Vaultine to kill"
        starts=$(started_count)
        kill -KILL $pid
        vaultine_kills=$((vaultine_kills + 1))
        wait_until 30 vaultine_is_back "$pid" "$starts" ||
            fail "launch $launch: Corvane did not bring Vaultine back after kill $vaultine_kills"
        current_vaultine=$(vaultine_pids)
        vaultine_born_at=$launch
        baseline_fds= baseline_rss= baseline_windows=
    else
        # Vaultine relaunches Corvane at once; a Corvane that is settling after relaunching
        # Vaultine may be the one killed.
        pid=$(corvane_pids)
        if [ -z "$pid" ]; then
            wait_until 15 is_running corvane_pids || fail "launch $launch: no Corvane to kill"
            pid=$(corvane_pids)
        fi
        kill -KILL $pid
        corvane_kills=$((corvane_kills + 1))
        wait_until 15 new_corvane "$pid" ||
            fail "launch $launch: Vaultine did not relaunch Corvane after kill $corvane_kills"
    fi
}

# Kills planned for this launch at this moment (0 before it, 1 while it starts, 2 while locked).
kills_at() {
    local launch=$1 moment=$2 entry
    for entry in ${planned[$launch]:-}; do
        [ "${entry%%:*}" = "$moment" ] || continue
        if [ "$moment" = 1 ]; then
            # The kill itself is what is tested here: at a random moment of the first 0.4 s of
            # the application's start, so there is no state to wait for.
            sleep "0.$((RANDOM % 4))"
        fi
        kill_one "${entry#*:}" "$launch"
    done
}

measure() {
    local pid=$1
    echo "$(process_fd_count "$pid") $(process_rss_kib "$pid") $(all_windows_of "$pid" | wc -l)"
}

one_launch() {
    local launch=$1
    kills_at "$launch" 0
    (launch_test_app)
    kills_at "$launch" 1
    wait_until 30 lock_is_up || fail "launch $launch: the test application was not locked"
    lockups=$((lockups + 1))
    if [[ " ${planned[$launch]:-} " == *" 2:"* ]]; then
        kills_at "$launch" 2
        wait_until 30 lock_is_up || fail "launch $launch: the lock did not come back after a kill"
        lockups=$((lockups + 1))
    fi
    if [ $((launch % UNLOCK_EVERY)) -eq 0 ]; then
        type_into_lock "$PASSWORD" || fail "launch $launch: the lock window did not take the password"
        wait_until 10 lock_is_down || fail "launch $launch: the right password left the lock up"
        unlocks=$((unlocks + 1))
    fi
    kill -KILL $(test_app_pids) 2>/dev/null || true
    wait_until 10 app_gone || fail "launch $launch: the test application did not end"
    wait_until 10 lock_is_down || fail "launch $launch: the lock stayed up after the application ended"
}

prepare_locked_test_app "$PASSWORD"
start_vaultine
wait_for_line "Monitoring services started" 30
wait_until 15 is_running corvane_pids || fail "Corvane was not launched"
current_vaultine=$(vaultine_pids)
log "seed $SEED: $LAUNCHES launches, $KILLS kills planned"
began=$(date +%s)

for ((launch = 1; launch <= LAUNCHES; launch++)); do
    one_launch "$launch"
    # The leak figures' baseline: the current Vaultine once it has done WARMUP launches.
    if [ -z "$baseline_fds" ] && [ $((launch - vaultine_born_at)) -ge "$WARMUP" ]; then
        # Settled as for the end figures: the next lock window is laid out a moment after the
        # last one closed, and a count taken in between would make that window look like a leak.
        wait_until 4 false || true
        read -r baseline_fds baseline_rss baseline_windows < <(measure "$current_vaultine")
        baseline_at=$launch
        [ -n "$first_fds" ] || read -r first_fds first_rss first_windows <<< \
            "$baseline_fds $baseline_rss $baseline_windows"
    fi
    [ $((launch % 50)) -ne 0 ] || log "launch $launch: $(measure "$current_vaultine") (fds rss windows)"
done
elapsed=$(($(date +%s) - began))

# The pair settles (a Corvane that relaunched Vaultine ends after a few seconds and is replaced).
wait_until 30 one_vaultine || fail "not exactly one Vaultine at the end: $(vaultine_pids | xargs)"
wait_until 30 one_corvane || fail "not exactly one Corvane at the end: $(corvane_pids | xargs)"
wait_until 4 false || true
one_vaultine || fail "not exactly one Vaultine at the end: $(vaultine_pids | xargs)"
one_corvane || fail "not exactly one Corvane at the end: $(corvane_pids | xargs)"
[ "$(vaultine_pids)" = "$current_vaultine" ] || fail "Vaultine was replaced though nobody killed it"

read -r end_fds end_rss end_windows < <(measure "$current_vaultine")
[ -n "$baseline_fds" ] || fail "the last Vaultine did not live through $WARMUP launches"
lock_is_down || fail "a lock window is still shown with nothing locked"

# The lock still works: one more launch is locked and the right password opens it.
(launch_test_app)
wait_until 30 lock_is_up || fail "the final launch was not locked"
lockups=$((lockups + 1))
type_into_lock "wrong $PASSWORD" || fail "the lock window did not take the focus"
wait_until 2 false || true
lock_is_up || fail "a wrong password opened the final lock"
xdotool key ctrl+a BackSpace
type_into_lock "$PASSWORD" || fail "the lock window did not take the password"
wait_until 10 lock_is_down || fail "the right password did not open the final lock"
is_running test_app_pids || fail "the test application ended when it was unlocked"
screenshot soak-end

cat >&2 <<FIGURES
[$E2E_NAME] figures (seed $SEED):
  launches            $LAUNCHES (+1 final), in $elapsed s ($((elapsed * 1000 / LAUNCHES)) ms a launch)
  kills               $((vaultine_kills + corvane_kills)): Vaultine $vaultine_kills, Corvane $corvane_kills
  lock-ups            $lockups (password unlocks $((unlocks + 1)))
  first Vaultine      fds $first_fds, RSS $first_rss KiB, windows $first_windows (after warm-up)
  last Vaultine       since launch $vaultine_born_at, baseline at launch $baseline_at
  fds                 $baseline_fds -> $end_fds (bound: growth <= $FD_BOUND)
  RSS                 $baseline_rss -> $end_rss KiB (bound: growth <= $((RSS_BOUND_KIB / 1024)) MiB)
  X windows           $baseline_windows -> $end_windows (bound: no growth)
FIGURES

[ $((end_fds - baseline_fds)) -le "$FD_BOUND" ] ||
    fail "Vaultine's descriptors grew from $baseline_fds to $end_fds"
[ $((end_rss - baseline_rss)) -le "$RSS_BOUND_KIB" ] ||
    fail "Vaultine's resident memory grew from $baseline_rss to $end_rss KiB"
[ "$end_windows" -le "$baseline_windows" ] ||
    fail "Vaultine's windows grew from $baseline_windows to $end_windows: $(all_windows_of "$current_vaultine" | xargs)"
log "ok"
