#!/usr/bin/env bash
# Starts and stops a private desktop session for tests, CI and the run command: Xvfb, openbox and
# trayer (X11), headless sway with its bar as the tray (VAULTINE_SESSION=wayland), or headless GNOME
# Shell on one virtual monitor with a stand-in system bus (VAULTINE_SESSION=gnome); a private
# session D-Bus, an unlocked gnome-keyring and a private HOME with XDG folders.
#
#   desktop-session.sh start            starts a session; prints `export` lines for its environment
#   desktop-session.sh stop DIR         stops the session whose state folder is DIR
#   desktop-session.sh run -- CMD...    runs CMD inside a fresh session, stops it, returns CMD's status
#   desktop-session.sh run --user NAME -- CMD...
#                                       the same with the session's programs run as the ordinary user
#                                       NAME (root only); CMD runs as the caller, with
#                                       VAULTINE_SESSION_USER=NAME, and acts for the user through it
#
# sway refuses to run as root: started by root, the Wayland sessions (sway and GNOME) and the
# command `run` runs belong to an ordinary user, VAULTINE_SESSION_USER (vaultine-session, created
# when missing), who is also given the folder VAULTINE_SESSION_OUTPUT names, for the command's
# output. VAULTINE_SESSION_DATA_DIRS, when set, goes ahead of the system's data folders in the
# GNOME session (where GNOME Shell finds system extensions, such as the build's copy of ours).
#
# Every process is started in a process group of its own and stopped by that group's id, never by
# name, so the user's own X server, bus and keyring are never touched.
set -euo pipefail

SCREEN_GEOMETRY=${VAULTINE_SESSION_GEOMETRY:-2560x1024x24}
SESSION_KIND=${VAULTINE_SESSION:-x11}
SESSION_USER=${VAULTINE_SESSION_USER:-vaultine-session}

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

# The prefix that runs a command as the session's user: none, unless we are root in a Wayland
# session. setpriv execs in place, so a recorded process id stays the process (and group) it names.
AS_USER=()
switches_user() { [ "$SESSION_KIND" != x11 ] && [ "$(id -u)" -eq 0 ]; }
set_session_user() {
    switches_user || return 0
    id -u "$SESSION_USER" >/dev/null 2>&1 ||
        useradd --create-home --user-group --shell /bin/bash "$SESSION_USER"
    AS_USER=(setpriv --reuid="$SESSION_USER" --regid="$(id -g "$SESSION_USER")" --init-groups --)
}

# Starts "$@" detached in its own session and process group; records the group's id.
spawn() {
    local name=$1; shift
    setsid "$@" >"$STATE/logs/$name.log" 2>&1 < /dev/null &
    echo "$! $name" >> "$STATE/pids"
}

session_env() {
    if [ "$SESSION_KIND" = gnome ]; then
        cat <<ENV
export WAYLAND_DISPLAY=${WAYLAND_DISPLAY:-}
export XDG_SESSION_TYPE=wayland
export XDG_CURRENT_DESKTOP=GNOME
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS
export XDG_DATA_DIRS=$GNOME_DATA_DIRS
export LANG=C.UTF-8
export VAULTINE_SESSION_USER=$SESSION_USER
unset DISPLAY SWAYSOCK
ENV
    elif [ "$SESSION_KIND" = wayland ]; then
        cat <<ENV
export WAYLAND_DISPLAY=${WAYLAND_DISPLAY:-}
export SWAYSOCK=${SWAYSOCK:-}
export XDG_SESSION_TYPE=wayland
export VAULTINE_SESSION_USER=$SESSION_USER
unset DISPLAY
ENV
    else
        cat <<ENV
export DISPLAY=$DISPLAY
export XDG_SESSION_TYPE=x11
unset WAYLAND_DISPLAY SWAYSOCK
ENV
    fi
    cat <<ENV
export VAULTINE_SESSION_KIND=$SESSION_KIND
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
unset QT_QPA_PLATFORM
ENV
}

# The state folder: logs, the process groups to stop, a private HOME and runtime folder, all the
# session user's.
make_state() {
    STATE=$(mktemp -d "${TMPDIR:-/tmp}/vaultine-session.XXXXXX")
    mkdir -p "$STATE/logs" "$STATE/home/.config" "$STATE/home/.local/share/applications" \
        "$STATE/home/.cache" "$STATE/runtime"
    chmod 700 "$STATE/runtime"
    : > "$STATE/pids"
    set_session_user
    if switches_user; then
        chmod 711 "$STATE"
        chown -R "$SESSION_USER:" "$STATE/home" "$STATE/runtime" "$STATE/logs"
    fi
}

# The session bus and a keyring unlocked with a password nobody needs to know, which serves the
# Secret Service.
start_bus_and_keyring() {
    local bus_file="$STATE/bus-address"
    setsid "${AS_USER[@]}" dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$bus_file" \
        >"$STATE/logs/dbus.log" 2>&1 < /dev/null &
    echo "$! dbus-daemon" >> "$STATE/pids"
    wait_for 100 test -s "$bus_file" || die "the session bus did not start"
    export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$bus_file")
    eval "$(session_env)"

    local password_file="$STATE/keyring-password"
    head -c 24 /dev/urandom | base64 > "$password_file"
    chmod 600 "$password_file"
    ! switches_user || chown "$SESSION_USER:" "$password_file"
    setsid "${AS_USER[@]}" gnome-keyring-daemon --foreground --unlock --components=secrets \
        < "$password_file" >"$STATE/logs/keyring.log" 2>&1 &
    echo "$! gnome-keyring" >> "$STATE/pids"
    wait_for 100 "${AS_USER[@]}" dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetNameOwner string:org.freedesktop.secrets \
        || die "gnome-keyring did not register the Secret Service"
}

start_x11() {
    need Xvfb openbox trayer dbus-daemon gnome-keyring-daemon xdpyinfo
    # The X server picks a free display itself and tells its number on a pipe.
    local display_file="$STATE/display"
    setsid Xvfb -displayfd 3 -screen 0 "$SCREEN_GEOMETRY" +extension RANDR -nolisten tcp \
        3>"$display_file" >"$STATE/logs/Xvfb.log" 2>&1 < /dev/null &
    echo "$! Xvfb" >> "$STATE/pids"
    wait_for 100 test -s "$display_file" || die "Xvfb did not start (see $STATE/logs/Xvfb.log)"
    export DISPLAY=":$(tr -d '[:space:]' < "$display_file")"
    wait_for 100 xdpyinfo || die "the X server on $DISPLAY does not answer"
    start_bus_and_keyring

    spawn openbox openbox --sm-disable
    wait_for 100 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window' \
        || die "openbox did not start"
    spawn trayer trayer --edge top --align right --widthtype request --height 24 \
        --SetDockType true --SetPartialStrut true --transparent false --tint 0x202124
    wait_for 50 sh -c 'xwininfo -root -tree | grep -qi "panel\|trayer"' || true
}

# Headless sway on one output of the screen's size, without Xwayland, its bar hosting status
# items; one virtual keyboard kept for the whole session (`wtype -s`), so that the seat has a
# keyboard before any client asks, and the keys a test types later reach the focused window.
start_wayland() {
    need sway swaymsg swaybar wtype dbus-daemon gnome-keyring-daemon
    start_bus_and_keyring
    local size=${SCREEN_GEOMETRY%x*}
    cat > "$STATE/logs/sway.config" <<CONFIG
xwayland disable
output HEADLESS-1 resolution $size position 0 0
bar {
    position top
    tray_output *
}
CONFIG
    spawn sway env -u WAYLAND_DISPLAY -u SWAYSOCK WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        "${AS_USER[@]}" sway --config "$STATE/logs/sway.config"
    wait_for 100 sh -c 'ls "$0"/wayland-* "$0"/sway-ipc.*.sock' "$STATE/runtime" \
        || die "sway did not start (see $STATE/logs/sway.log)"
    export WAYLAND_DISPLAY=$(basename "$(ls "$STATE"/runtime/wayland-* | grep -v '\.lock$' | head -n 1)")
    export SWAYSOCK=$(ls "$STATE"/runtime/sway-ipc.*.sock | head -n 1)
    eval "$(session_env)"
    wait_for 100 "${AS_USER[@]}" swaymsg -t get_outputs || die "sway does not answer on $SWAYSOCK"
    spawn keyboard "${AS_USER[@]}" wtype -s 2000000
    wait_for 50 "${AS_USER[@]}" dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetNameOwner string:org.kde.StatusNotifierWatcher || true
}

# Headless GNOME Shell (mutter) on two virtual monitors that together make the screen's size. It
# wants a system bus: a second dbus-daemon, the session user's, stands in for it, its socket in a
# folder that user owns. No gnome-session runs, so the bus's activated services (a terminal's
# server) are told the Wayland display here.
start_gnome() {
    need gnome-shell dbus-daemon dbus-update-activation-environment gnome-keyring-daemon
    GNOME_DATA_DIRS=${VAULTINE_SESSION_DATA_DIRS:+$VAULTINE_SESSION_DATA_DIRS:}${XDG_DATA_DIRS:-/usr/local/share:/usr/share}
    mkdir -p "$STATE/system-bus"
    cat > "$STATE/system-bus/bus.conf" <<CONFIG
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$STATE/system-bus/socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
CONFIG
    ! switches_user || chown -R "$SESSION_USER:" "$STATE/system-bus"
    spawn system-bus "${AS_USER[@]}" dbus-daemon --config-file="$STATE/system-bus/bus.conf" \
        --nofork --nopidfile
    wait_for 100 test -S "$STATE/system-bus/socket" || die "the stand-in system bus did not start"
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$STATE/system-bus/socket
    export XDG_CURRENT_DESKTOP=GNOME LANG=C.UTF-8 XDG_DATA_DIRS=$GNOME_DATA_DIRS
    # The services the bus starts (dconf, which keeps the Shell's settings) need the private HOME
    # and runtime folder from the start.
    export HOME=$STATE/home XDG_CONFIG_HOME=$STATE/home/.config XDG_DATA_HOME=$STATE/home/.local/share \
        XDG_CACHE_HOME=$STATE/home/.cache XDG_RUNTIME_DIR=$STATE/runtime
    start_bus_and_keyring
    # Two monitors side by side, each half the screen: the lock on the primary, a cover on the other.
    local size=${SCREEN_GEOMETRY%x*}
    local half="$((${size%x*} / 2))x${size#*x}"
    spawn gnome-shell env -u WAYLAND_DISPLAY -u DISPLAY XDG_SESSION_TYPE=wayland \
        "${AS_USER[@]}" gnome-shell --headless --wayland --virtual-monitor "$half" \
        --virtual-monitor "$half"
    wait_for 300 "${AS_USER[@]}" dbus-send --session --print-reply --dest=org.gnome.Shell \
        /org/gnome/Shell org.freedesktop.DBus.Properties.Get string:org.gnome.Shell.Extensions \
        string:ShellVersion || die "GNOME Shell did not start (see $STATE/logs/gnome-shell.log)"
    export WAYLAND_DISPLAY=$(basename "$(ls "$STATE"/runtime/wayland-* | grep -v '\.lock$' | head -n 1)")
    eval "$(session_env)"
    "${AS_USER[@]}" dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP \
        XDG_SESSION_TYPE LANG DBUS_SYSTEM_BUS_ADDRESS
}

start() {
    make_state
    trap 'stop_dir "$STATE" >/dev/null 2>&1' EXIT
    if [ "$SESSION_KIND" = gnome ]; then
        start_gnome
    elif [ "$SESSION_KIND" = wayland ]; then
        start_wayland
    else
        start_x11
    fi
    trap - EXIT
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
        set_session_user
        if switches_user; then
            if [ -n "${VAULTINE_SESSION_OUTPUT:-}" ]; then
                mkdir -p "$VAULTINE_SESSION_OUTPUT"
                chown -R "$SESSION_USER:" "$VAULTINE_SESSION_OUTPUT"
            fi
            # Our own folder may be closed to that user.
            cd "$HOME"
        fi
        set +e
        "${AS_USER[@]}" "$@"
        status=$?
        set -e
        exit $status
        ;;
    *)
        echo "usage: $0 start | stop DIR | run -- COMMAND..." >&2
        exit 2
        ;;
esac
