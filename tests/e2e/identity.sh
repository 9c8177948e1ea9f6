#!/usr/bin/env bash
# A locked application is locked through every door: Debian's own terminals and X clients through
# their own entries (a terminal's server included), started through the dynamic loader or a copy of
# it, a private NoDisplay entry naming a locked program, a renamed copy of a locked binary (caught by
# its window), a copy of a locked terminal started by a private entry under its name (caught by its
# content), a copy with a byte appended (caught by its build-id), an application running a shell on
# its own pseudo-terminal, our display under other names, a nested X server started from the
# session, windows embedded into an unlocked program's window or override-redirect, a launch while
# Vaultine was killed, and a process of another login's X server, which is left alone.
. "$(dirname "$0")/lib.sh"

PASSWORD="Open Sesame"
SLEEPER_EXE=$HOME/bin/vaultine-sleeper

install_entry() {  # ID NAME EXEC [EXTRA-LINE]
    printf '[Desktop Entry]\nType=Application\nName=%s\nExec=%s\n%s\n' "$2" "$3" "${4:-}" \
        > "$XDG_DATA_HOME/applications/$1.desktop"
}
# Processes of this session running the executable, and ending them.
end_program() {
    local pid
    for pid in $(session_pids "$(readlink -f "$1")"); do kill -KILL "$pid" 2>/dev/null || true; done
}
release() {
    type_into_lock "$PASSWORD" || fail "could not type into the lock ($1)"
    wait_until 10 lock_is_down || fail "the right password did not release $1"
}
# Launches a command and wants it covered within a second and still covered three seconds later.
expect_locked() {
    local what=$1; shift
    setsid "$@" >/dev/null 2>&1 < /dev/null &
    disown
    wait_until 1 lock_is_up || fail "$what was not covered within a second"
    sleep 3
    lock_is_up || fail "$what was uncovered again"
    screenshot "locked-${what// /-}"
    log "$what: locked"
}

identity_cleanup() {
    local status=$? program server
    # Ended politely, so that they take their sockets and lock files with them.
    for server in ${X_SERVERS:-}; do kill -TERM "$server" 2>/dev/null || true; done
    for program in /usr/libexec/gnome-terminal-server /usr/bin/xfce4-terminal /usr/bin/xterm \
        /lib64/ld-linux-x86-64.so.2 "$HOME/bin/ld" /usr/bin/xlogo "$HOME/bin/renamed-logo" \
        "$HOME/bin/renamed-term" "$HOME/bin/appended-term" "$HOME/bin/notes-with-terminal" \
        "$HOME/bin/hidden-term" "$SLEEPER_EXE" /usr/bin/xeyes; do
        end_program "$program"
    done
    (exit $status)
    cleanup
}
trap identity_cleanup EXIT

prepare_locked_test_app "$PASSWORD"
install_entry x11-xlogo Logo /usr/bin/xlogo
# A copy of sleep with the same build-id would be sleep itself, and every sleep of this script
# would be locked: the sleeper has none, and is known by its path and bytes.
objcopy --remove-section .note.gnu.build-id /bin/sleep "$SLEEPER_EXE"
install_entry org.vaultine.Sleeper Sleeper "$SLEEPER_EXE 600"
store_setting Applications "$TEST_APP_ID;x11-xlogo;org.vaultine.Sleeper;"
store_setting Administrative 1
start_vaultine
wait_for_line "Monitoring services started"
wait_until 10 is_running corvane_pids || fail "Corvane was not launched"

# The terminal's client hands over to the server that the session bus starts, and ends: the lock
# stays for the server.
expect_locked "gnome-terminal" gnome-terminal
release gnome-terminal
end_program /usr/libexec/gnome-terminal-server
expect_locked "xfce4-terminal" xfce4-terminal
release xfce4-terminal
end_program /usr/bin/xfce4-terminal
expect_locked "xterm" xterm
release xterm
end_program /usr/bin/xterm
# Through the loader, under a class and name of its own: the process is still xterm.
expect_locked "xterm through the loader" /lib64/ld-linux-x86-64.so.2 /usr/bin/xterm -class Zzz -name zzz
release "xterm through the loader"
end_program /lib64/ld-linux-x86-64.so.2
# A copy of the loader, named like no loader, is known by its build-id.
cp /lib64/ld-linux-x86-64.so.2 "$HOME/bin/ld"
expect_locked "xterm through a copy of the loader" "$HOME/bin/ld" /usr/bin/xterm -class Zzz -name zzz
release "xterm through a copy of the loader"
end_program "$HOME/bin/ld"
expect_locked "xlogo" xlogo
release xlogo
end_program /usr/bin/xlogo

# Entries a user can write never take protection away.
install_entry aaa a /usr/bin/xlogo NoDisplay=true
sleep 1
expect_locked "xlogo behind a private entry" xlogo
release "xlogo behind a private entry"
end_program /usr/bin/xlogo
cp /usr/bin/xlogo "$HOME/bin/renamed-logo"
expect_locked "a copy of xlogo" "$HOME/bin/renamed-logo"
release "a copy of xlogo"
end_program "$HOME/bin/renamed-logo"
# A copy started by a private entry of its own, its windows declaring that entry's name, is still
# known by its content.
cp /usr/bin/xterm "$HOME/bin/renamed-term"
install_entry notes Notes "$HOME/bin/renamed-term -class notes -name notes" NoDisplay=true
sleep 1
expect_locked "a copy of xterm under a private entry" \
    gio launch "$XDG_DATA_HOME/applications/notes.desktop"
release "a copy of xterm under a private entry"
end_program "$HOME/bin/renamed-term"
# A copy that differs from xterm in a byte appended has xterm's build-id.
cp /usr/bin/xterm "$HOME/bin/appended-term"
printf x >> "$HOME/bin/appended-term"
expect_locked "a copy of xterm with a byte appended" "$HOME/bin/appended-term" -class Q
release "a copy of xterm with a byte appended"
end_program "$HOME/bin/appended-term"

# An application that is no terminal, running a shell on a pseudo-terminal it holds (an editor's
# terminal tab), is a terminal while the shell runs: locked under its own name.
cp /usr/bin/script "$HOME/bin/notes-with-terminal"
install_entry org.vaultine.Notes Notes "$HOME/bin/notes-with-terminal"
mkfifo "$HOME/notes-input"
sleep 1
setsid sh -c 'exec "$0" -qfc "sh -i" /dev/null < "$1"' "$HOME/bin/notes-with-terminal" \
    "$HOME/notes-input" >/dev/null 2>&1 &
exec 9> "$HOME/notes-input"
wait_until 1 lock_is_up || fail "a shell on an application's own terminal was not covered within a second"
sleep 3
lock_is_up || fail "a shell on an application's own terminal was uncovered again"
log_has "Will start: Notes" || fail "the lock was not under the application's own name"
release "an application running a shell on its own terminal"
exec 9>&-
end_program "$HOME/bin/notes-with-terminal"

# Our display under other names is our display.
NUMBER=${DISPLAY#:}
NUMBER=${NUMBER%.*}
expect_locked "the sleeper on unix:N" env DISPLAY="unix:$NUMBER" "$SLEEPER_EXE" 600
release "the sleeper on unix:N"
end_program "$SLEEPER_EXE"
expect_locked "the sleeper on the socket path" env DISPLAY="/tmp/.X11-unix/X$NUMBER" \
    "$SLEEPER_EXE" 600
release "the sleeper on the socket path"
end_program "$SLEEPER_EXE"
expect_locked "xterm on unix:N.0" env DISPLAY="unix:$NUMBER.0" xterm
release "xterm on unix:N.0"
end_program /usr/bin/xterm

# Windows embedded into an unlocked program's window, or override-redirect, are in no window
# manager's list: their client's process is what tells.
setsid xeyes >/dev/null 2>&1 < /dev/null &
wait_until 5 sh -c 'xdotool search --class xeyes | grep -q .' || fail "xeyes showed no window"
EYES=$(xdotool search --class xeyes | head -n 1)
expect_locked "xterm into xeyes" xterm -into "$EYES"
release "xterm into xeyes"
end_program /usr/bin/xterm
# A copy that no entry names: nothing but its windows' client gives it away.
cp /usr/bin/xterm "$HOME/bin/hidden-term"
expect_locked "a copy of xterm into xeyes" "$HOME/bin/hidden-term" -into "$EYES"
release "a copy of xterm into xeyes"
end_program "$HOME/bin/hidden-term"
expect_locked "an override-redirect copy of xterm" "$HOME/bin/hidden-term" \
    -xrm '*overrideRedirect: true' -geometry +200+200
release "an override-redirect copy of xterm"
end_program "$HOME/bin/hidden-term"
end_program /usr/bin/xeyes

# An X server started from this session is this session's: its clients are locked on our display,
# over the nested server's window.
X_SERVERS=
start_x_server() {  # DISPLAY-FILE COMMAND...: starts an X server that tells its number on fd 3
    local file=$1; shift
    setsid "$@" -displayfd 3 -nolisten tcp 3>"$file" >/dev/null 2>&1 < /dev/null &
    X_SERVERS="$X_SERVERS $!"
    wait_until 10 test -s "$file" || fail "$1 did not start"
}
start_x_server "$VAULTINE_SESSION_DIR/nested-display" Xephyr -screen 800x600
NESTED=":$(tr -d '[:space:]' < "$VAULTINE_SESSION_DIR/nested-display")"
expect_locked "xterm on a nested server" env DISPLAY="$NESTED" xterm
release "xterm on a nested server"
end_program /usr/bin/xterm
expect_locked "the sleeper on a nested server" env DISPLAY="$NESTED" "$SLEEPER_EXE" 600
release "the sleeper on a nested server"
end_program "$SLEEPER_EXE"

# Another login's X server (started by a display manager, another user's) runs its programs for
# itself. Another user can only be taken on as root.
if [ "$(id -u)" = 0 ]; then
    start_x_server "$VAULTINE_SESSION_DIR/other-display" \
        setpriv --reuid=nobody --regid=nogroup --clear-groups Xvfb
    OTHER=":$(tr -d '[:space:]' < "$VAULTINE_SESSION_DIR/other-display")"
    lines_before=$(wc -l < "$VAULTINE_LOG")
    DISPLAY=$OTHER setsid "$SLEEPER_EXE" 600 >/dev/null 2>&1 < /dev/null &
    sleep 2
    lock_is_down || fail "a process of another login's display was locked"
    tail -n "+$((lines_before + 1))" "$VAULTINE_LOG" | grep -qF "Will start: Sleeper" &&
        fail "a process of another login's display was reported"
    expect_locked "the sleeper of this session" "$SLEEPER_EXE" 600
    release "the sleeper of this session"
    end_program "$SLEEPER_EXE"
else
    log "not root: another login's X server is not tried"
fi

# Launched while Vaultine is down: Corvane brings it back and it locks what began meanwhile, but
# not a run the password released before.
launch_test_app
wait_until 5 lock_is_up || fail "the test application was not locked"
release "the test application"
first_vaultine=$(vaultine_pids)
kill -KILL $first_vaultine
launch_test_app
new_vaultine() { local pid; pid=$(vaultine_pids); [ -n "$pid" ] && [ "$pid" != "$first_vaultine" ]; }
wait_until 10 new_vaultine || fail "Corvane did not relaunch Vaultine"
wait_until 10 lock_is_up || fail "the launch while Vaultine was down was not locked"
screenshot locked-after-relaunch
release "the launch while Vaultine was down"
sleep 2
lock_is_down || fail "a released run was locked again"
log "ok"
