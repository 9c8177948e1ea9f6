#!/usr/bin/env bash
# The Debian package: made with CPack from this build, its dependencies resolvable by apt on this
# machine, its files where the system expects them, the system guard with its unit and maintainer
# scripts; unpacked into a scratch root, the packaged guard starts with no more capabilities than
# its unit grants, and the installed bundle started the way the application menu starts it locks
# an application and unlocks it.
. "$(dirname "$0")/lib.sh"

BUILD_DIR=$(cd "$(dirname "$VAULTINE_BUNDLE")" && pwd)
SCRATCH=$(mktemp -d)
GUARD_PID=
# The programs run from the scratch root: stop them before it goes, then the usual clean-up.
package_cleanup() {
    local status=$?
    stop_guard
    stop_programs
    rm -rf "$SCRATCH"
    (exit $status)
    cleanup
}
trap package_cleanup EXIT

# A guard left running would judge every execution of the machine: asked to end, then killed.
stop_guard() {
    [ -n "$GUARD_PID" ] || return 0
    kill -TERM "$GUARD_PID" 2>/dev/null || true
    wait_until 5 guard_has_ended || kill -KILL "$GUARD_PID" 2>/dev/null || true
    wait "$GUARD_PID" 2>/dev/null || true
    GUARD_PID=
}
guard_has_ended() { case $(ps -o stat= -p "$GUARD_PID") in "" | Z*) true ;; *) false ;; esac; }
guard_has_socket() { [ -S "$GUARD_RUN/socket" ] || guard_has_ended; }

# start_guard [SETPRIV OPTIONS...]: the packaged guard on a scratch state and runtime folder; true
# once its socket is there.
start_guard() {
    rm -rf "$GUARD_STATE" "$GUARD_RUN"
    setpriv "$@" -- "$ROOT/usr/sbin/vaultine-guard" --state-dir "$GUARD_STATE" \
        --runtime-dir "$GUARD_RUN" >> "$E2E_ARTIFACTS/guard.log" 2>&1 &
    GUARD_PID=$!
    wait_until 10 guard_has_socket && ! guard_has_ended
}
[ -f "$BUILD_DIR/CPackConfig.cmake" ] || fail "no CPack configuration in $BUILD_DIR"

(cd "$SCRATCH" && cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$SCRATCH/out") \
    > "$E2E_ARTIFACTS/cpack.log" 2>&1 || fail "cpack failed: $(tail -n 5 "$E2E_ARTIFACTS/cpack.log")"
deb=$(ls "$SCRATCH"/out/vaultine_*_amd64.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack made no package"
log "package $(basename "$deb"): $(du -h "$deb" | cut -f1)"

# Every dependency is a package apt can install here (or has installed).
depends=$(dpkg-deb -f "$deb" Depends)
log "Depends: $depends"
echo "$depends" | grep -q "libqt6widgets6" || fail "the package does not depend on Qt Widgets"
echo "$depends" | grep -q "libsodium" || fail "the package does not depend on libsodium (the guard)"
echo "$depends" | grep -q "qt6-wayland" || fail "the package does not depend on Qt's Wayland platform"
apt-get install --simulate --no-install-recommends "$deb" > "$E2E_ARTIFACTS/apt-simulate.log" 2>&1 ||
    fail "apt cannot resolve the package's dependencies: $(tail -n 5 "$E2E_ARTIFACTS/apt-simulate.log")"

# The files: the bundle with its helper, the command, the desktop entry, the icon and the GNOME
# Shell extension.
dpkg-deb -c "$deb" | awk '{print $6}' > "$E2E_ARTIFACTS/contents.txt"
for file in ./opt/vaultine/Vaultine.app/Contents/Info.json \
    ./opt/vaultine/Vaultine.app/Contents/bin/Vaultine \
    ./opt/vaultine/Vaultine.app/Contents/Library/LoginItems/Corvane.app/Contents/Info.json \
    ./opt/vaultine/Vaultine.app/Contents/Library/LoginItems/Corvane.app/Contents/bin/Corvane \
    ./usr/bin/vaultine ./usr/share/applications/org.vaultine.Vaultine.desktop \
    ./usr/share/icons/hicolor/scalable/apps/org.vaultine.Vaultine.svg \
    ./usr/sbin/vaultine-guard ./lib/systemd/system/vaultine-guard.service \
    ./usr/share/gnome-shell/extensions/vaultine@vaultine.org/metadata.json \
    ./usr/share/gnome-shell/extensions/vaultine@vaultine.org/extension.js \
    ./usr/share/gnome-shell/extensions/vaultine@vaultine.org/stylesheet.css; do
    grep -qxF "$file" "$E2E_ARTIFACTS/contents.txt" || fail "the package lacks $file"
done
# The packaged Shell extension serves the installed bundle, not a program a file beside it names.
! grep -q 'vaultine@vaultine.org/vaultine-program$' "$E2E_ARTIFACTS/contents.txt" ||
    fail "the package's Shell extension names another program than the installed Vaultine"
ROOT=$SCRATCH/root
dpkg-deb -x "$deb" "$ROOT"
entry=$ROOT/usr/share/applications/org.vaultine.Vaultine.desktop
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "the desktop entry is not valid"
fi

# The guard's unit: its program, kept running, sandboxed, yet able to hold executions (fanotify),
# read other users' processes and freeze in /sys/fs/cgroup; folders for its state and socket.
unit=$ROOT/lib/systemd/system/vaultine-guard.service
for line in ExecStart=/usr/sbin/vaultine-guard Restart=always NoNewPrivileges=yes \
    ProtectSystem=strict ProtectHome=read-only ReadWritePaths=/sys/fs/cgroup \
    StateDirectory=vaultine-guard StateDirectoryMode=0700 RuntimeDirectory=vaultine-guard \
    RuntimeDirectoryMode=0755 PrivateNetwork=yes RestrictAddressFamilies=AF_UNIX \
    WantedBy=multi-user.target; do
    grep -qxF "$line" "$unit" || fail "the guard's unit lacks $line"
done
! grep -Eq '^(ProtectControlGroups|ProtectProc|ProcSubset|PrivateUsers)=' "$unit" ||
    fail "the guard's unit hides the cgroups or other users' processes from it"
capabilities=$(sed -n 's/^CapabilityBoundingSet=//p' "$unit")
[ -n "$capabilities" ] || fail "the guard's unit does not limit its capabilities"
for capability in CAP_SYS_ADMIN CAP_SYS_PTRACE; do
    echo " $capabilities " | grep -qF " $capability " || fail "the guard's unit drops $capability"
done
if command -v systemd-analyze >/dev/null; then
    # verify wants ExecStart's program to exist: the unit is checked naming the unpacked one.
    mkdir "$SCRATCH/unit"
    sed "s|^ExecStart=/|ExecStart=$ROOT/|" "$unit" > "$SCRATCH/unit/vaultine-guard.service"
    systemd-analyze verify "$SCRATCH/unit/vaultine-guard.service" > "$E2E_ARTIFACTS/verify.log" 2>&1 ||
        fail "systemd-analyze refuses the guard's unit: $(cat "$E2E_ARTIFACTS/verify.log")"
    [ ! -s "$E2E_ARTIFACTS/verify.log" ] ||
        fail "systemd-analyze warns about the guard's unit: $(cat "$E2E_ARTIFACTS/verify.log")"
else
    log "no systemd-analyze here: the guard's unit is not verified"
fi

# The maintainer scripts, run as dpkg runs them on a system in DPKG_ROOT (the scratch root, so this
# machine's systemd is left alone): installing enables the guard, removing masks it, purging
# forgets both and deletes its state.
dpkg-deb -e "$deb" "$SCRATCH/control"
for script in postinst prerm postrm; do
    [ -x "$SCRATCH/control/$script" ] || fail "the package has no executable $script"
    sh -n "$SCRATCH/control/$script" || fail "$script is not valid sh"
done
maintainer_script() {
    DPKG_ROOT=$ROOT DPKG_MAINTSCRIPT_PACKAGE=vaultine DPKG_MAINTSCRIPT_NAME=$1 \
        sh "$SCRATCH/control/$1" "${@:2}" || fail "$* failed"
}
wants=$ROOT/etc/systemd/system/multi-user.target.wants/vaultine-guard.service
maintainer_script postinst configure
[ -L "$wants" ] || fail "postinst does not enable the guard"
grep -q 'deb-systemd-invoke start' "$SCRATCH/control/postinst" || fail "postinst does not start the guard"
grep -q 'deb-systemd-invoke stop' "$SCRATCH/control/prerm" || fail "prerm does not stop the guard"
maintainer_script prerm remove
maintainer_script postrm remove
[ "$(readlink "$ROOT/etc/systemd/system/vaultine-guard.service")" = /dev/null ] ||
    fail "postrm does not mask the removed guard"
mkdir -p "$ROOT/var/lib/vaultine-guard"
touch "$ROOT/var/lib/vaultine-guard/1000"
maintainer_script postrm purge
[ ! -e "$ROOT/var/lib/vaultine-guard" ] || fail "purging leaves the guard's state"
[ ! -L "$wants" ] && [ ! -L "$ROOT/etc/systemd/system/vaultine-guard.service" ] ||
    fail "purging leaves the guard enabled or masked"

# The packaged guard makes its socket with no more than the unit's capabilities, and forgets a
# user's policy when asked. It needs root and a kernel that allows fanotify.
GUARD_STATE=$SCRATCH/guard/state
GUARD_RUN=$SCRATCH/guard/run
if [ "$(id -u)" -ne 0 ]; then
    log "not root: the packaged guard is not started"
else
    mkdir -p "$SCRATCH/guard"
    bounding=-all$(echo "$capabilities" | tr '[:upper:]' '[:lower:]' | sed 's/cap_/,+/g; s/ //g')
    if start_guard --bounding-set "$bounding" --inh-caps -all --no-new-privs; then
        [ "$(stat -c %a "$GUARD_STATE")" = 700 ] || fail "the guard's state folder is not 0700"
        [ "$(stat -c %a "$GUARD_RUN/socket")" = 666 ] || fail "the guard's socket is not open to users"
        stop_guard
        "$ROOT/usr/sbin/vaultine-guard" --state-dir "$GUARD_STATE" --forget nobody ||
            fail "the packaged guard cannot forget a user's policy"
        log "the packaged guard ran with $capabilities"
    else
        stop_guard
        if start_guard; then
            fail "the guard starts as root but not with its unit's capabilities: $(cat "$E2E_ARTIFACTS/guard.log")"
        fi
        stop_guard
        log "the guard cannot watch executions here: $(tail -n 1 "$E2E_ARTIFACTS/guard.log")"
    fi
fi

# The menu runs the entry's Exec line; in the scratch root its /opt is under $ROOT.
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[ "$exec_line" = "/opt/vaultine/Vaultine.app/Contents/bin/Vaultine" ] ||
    fail "the desktop entry runs \"$exec_line\""
grep -q "^exec $exec_line" "$ROOT/usr/bin/vaultine" || fail "the vaultine command starts something else"
VAULTINE_BUNDLE=$ROOT/opt/vaultine/Vaultine.app
VAULTINE_EXE=$ROOT$exec_line
CORVANE_BUNDLE=$VAULTINE_BUNDLE/Contents/Library/LoginItems/Corvane.app
CORVANE_EXE=$CORVANE_BUNDLE/Contents/bin/Corvane

prepare_locked_test_app "Open Sesame"
start_vaultine
wait_for_line "Monitoring services started"
wait_until 10 is_running corvane_pids || fail "the installed bundle's Corvane was not launched"
launch_test_app
wait_until 10 lock_is_up || fail "the installed Vaultine did not lock the test application"
screenshot installed-locked
type_into_lock "Open Sesame" || fail "the lock window does not hold the focus"
wait_until 5 lock_is_down || fail "the right password left the installed Vaultine's lock up"
log "ok"
