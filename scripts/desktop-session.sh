#!/usr/bin/env bash
# Starts and stops a private X11 desktop session for tests, CI and the run command: Xvfb, openbox,
# trayer, a private session D-Bus, an unlocked gnome-keyring and a private HOME with XDG folders.
#
#   desktop-session.sh start            starts a session; prints `export` lines for its environment
#   desktop-session.sh stop DIR         stops the session whose state folder is DIR
#   desktop-session.sh run -- CMD...    runs CMD inside a fresh session, stops it, returns CMD's status
#   desktop-session.sh run --user NAME -- CMD...
#                                       the same with the session's programs run as the ordinary user
#                                       NAME (root only); CMD runs as the caller, with
#                                       VAULTINE_SESSION_USER=NAME, and acts for the user through it
#
# Every process is started in a process group of its own and stopped by that group's id, never by
# name, so the user's own X server, bus and keyring are never touched.
set -euo pipefail

SCREEN_GEOMETRY=${VAULTINE_SESSION_GEOMETRY:-2560x1024x24}

die() { echo "desktop-session: $*" >&2; exit 1; }

need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (run scripts/setup-packages.sh)"
    done
}

# Waits up to $1 tenths of a second for the command "$2..." to succeed.
wait_for() {
    local tries=$1; shift
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

# Starts "$@" detached in its own session and process group; records the group's id.
spawn() {
    local name=$1; shift
    setsid "$@" >"$STATE/logs/$name.log" 2>&1 < /dev/null &
    echo "$! $name" >> "$STATE/pids"
}

session_env() {
    cat <<ENV
export DISPLAY=$DISPLAY
export DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
export HOME=$STATE/home
export XDG_CONFIG_HOME=$STATE/home/.config
export XDG_DATA_HOME=$STATE/home/.local/share
export XDG_CACHE_HOME=$STATE/home/.cache
export XDG_RUNTIME_DIR=$STATE/runtime
export VAULTINE_SESSION_DIR=$STATE
export NO_AT_BRIDGE=1
export QT_ACCESSIBILITY=0
export GTK_USE_PORTAL=0
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
ENV
}

start() {
    need Xvfb openbox trayer dbus-daemon gnome-keyring-daemon xdpyinfo
    STATE=$(mktemp -d "${TMPDIR:-/tmp}/vaultine-session.XXXXXX")
    mkdir -p "$STATE/logs" "$STATE/home/.config" "$STATE/home/.local/share/applications" \
        "$STATE/home/.cache" "$STATE/runtime"
    chmod 700 "$STATE/runtime"
    : > "$STATE/pids"
    trap 'stop_dir "$STATE" >/dev/null 2>&1; exit 1' ERR

    # The X server picks a free display itself and tells its number on a pipe.
    local display_file="$STATE/display"
    setsid Xvfb -displayfd 3 -screen 0 "$SCREEN_GEOMETRY" +extension RANDR -nolisten tcp \
        3>"$display_file" >"$STATE/logs/Xvfb.log" 2>&1 < /dev/null &
    echo "$! Xvfb" >> "$STATE/pids"
    wait_for 100 test -s "$display_file" || die "Xvfb did not start (see $STATE/logs/Xvfb.log)"
    export DISPLAY=":$(tr -d '[:space:]' < "$display_file")"
    wait_for 100 xdpyinfo || die "the X server on $DISPLAY does not answer"

    local bus_file="$STATE/bus-address"
    setsid dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$bus_file" \
        >"$STATE/logs/dbus.log" 2>&1 < /dev/null &
    echo "$! dbus-daemon" >> "$STATE/pids"
    wait_for 100 test -s "$bus_file" || die "the session bus did not start"
    export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$bus_file")

    eval "$(session_env)"

    # A keyring unlocked with a password nobody needs to know; it serves the Secret Service.
    local password_file="$STATE/keyring-password"
    head -c 24 /dev/urandom | base64 > "$password_file"
    chmod 600 "$password_file"
    setsid gnome-keyring-daemon --foreground --unlock --components=secrets \
        < "$password_file" >"$STATE/logs/keyring.log" 2>&1 &
    echo "$! gnome-keyring" >> "$STATE/pids"
    wait_for 100 dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetNameOwner string:org.freedesktop.secrets \
        || die "gnome-keyring did not register the Secret Service"

    spawn openbox openbox --sm-disable
    wait_for 100 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window' \
        || die "openbox did not start"
    spawn trayer trayer --edge top --align right --widthtype request --height 24 \
        --SetDockType true --SetPartialStrut true --transparent false --tint 0x202124
    wait_for 50 sh -c 'xwininfo -root -tree | grep -qi "panel\|trayer"' || true
    trap - ERR
    session_env
}

stop_dir() {
    local dir=$1
    [ -f "$dir/pids" ] || die "$dir is not a session folder"
    # Newest first, so clients go before the servers they talk to.
    local groups
    groups=$(tac "$dir/pids" | awk '{print $1}')
    for group in $groups; do kill -TERM -- "-$group" 2>/dev/null || true; done
    for _ in $(seq 30); do
        local alive=0
        for group in $groups; do kill -0 -- "-$group" 2>/dev/null && alive=1; done
        [ "$alive" = 0 ] && break
        sleep 0.1
    done
    for group in $groups; do kill -KILL -- "-$group" 2>/dev/null || true; done
    rm -rf "$dir"
}

case "${1:-}" in
    start)
        start
        ;;
    stop)
        [ -n "${2:-}" ] || die "usage: $0 stop DIR"
        stop_dir "$2"
        ;;
    run)
        shift
        user=
        if [ "${1:-}" = "--user" ]; then
            user=${2:?usage: $0 run --user NAME -- COMMAND...}
            shift 2
        fi
        [ "${1:-}" = "--" ] && shift
        [ $# -gt 0 ] || die "usage: $0 run [--user NAME] -- COMMAND..."
        if [ -n "$user" ]; then
            # Started by the user itself, so that every server of the session is the user's.
            environment=$(setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" \
                --init-groups -- env -u XDG_RUNTIME_DIR -u DBUS_SESSION_BUS_ADDRESS TMPDIR=/tmp \
                "$0" start)
            environment+=$'\n'"export VAULTINE_SESSION_USER=$user"
        else
            environment=$(start)
        fi
        eval "$environment"
        session_dir=$VAULTINE_SESSION_DIR
        trap 'stop_dir "$session_dir"' EXIT
        set +e
        "$@"
        status=$?
        set -e
        exit $status
        ;;
    *)
        echo "usage: $0 start | stop DIR | run -- COMMAND..." >&2
        exit 2
        ;;
esac
