// Vaultine's lock screen inside GNOME Shell: on Vaultine's request it covers every monitor, shows
// the lock (the application's icon and name, a message, a password field and an error line) on
// the primary one and holds the keyboard and pointer with a modal grab, so that no window,
// Alt+Tab, the Super key or the overview is reachable until Vaultine says the password was right.
// It tells Vaultine of every new window with its client's process, so that Vaultine can tie
// windows to runs.
//
// The object lives on the Shell's own session-bus connection, at /org/vaultine/ShellLock under
// the name org.gnome.Shell, which no other program can hold while the Shell runs: Vaultine knows
// that whoever answers there is the Shell. Requests are taken only from Vaultine's installed
// program (the connection's process, its executable read from /proc), and the windows are sent to
// that connection alone. The typed password never goes on the bus, where any program of the user
// may watch: each Lock request hands over one end of a socket pair of Vaultine's, and every
// submitted text is sent into it as one message, the text in UTF-8 ended by a NUL. Vaultine reads
// only messages our process sent (a watcher of the bus gets a copy of the descriptor too).
'use strict';

const { Clutter, Gio, GLib, Meta, Shell, St } = imports.gi;
const Main = imports.ui.main;
const ExtensionUtils = imports.misc.extensionUtils;

const OBJECT_PATH = '/org/vaultine/ShellLock';
const INTERFACE_NAME = 'org.vaultine.ShellLock';
const VERSION = 1;
// The installed Vaultine; a file of this name beside this script may name another (a build's,
// for tests). The extension's folder is root's when it is installed system-wide, which Vaultine
// checks before it trusts the extension.
const DEFAULT_PROGRAM = '/opt/vaultine/Vaultine.app/Contents/bin/Vaultine';
const PROGRAM_FILE = 'vaultine-program';
// A lock whose Vaultine went away stays up this long for a restarted Vaultine to take it over.
const ORPHAN_GRACE_SECONDS = 15;
const GRAB_RETRY_MS = 100;
// A record and its NUL fit in one message of the size Vaultine reads (PIPE_BUF); the non-blocking
// socket takes it whole or not at all, and never waits for Vaultine.
const MAX_RECORD_BYTES = 4095;

const INTERFACE_XML = `
<node>
  <interface name="${INTERFACE_NAME}">
    <method name="Register">
      <arg type="u" name="version" direction="out"/>
    </method>
    <method name="Lock">
      <arg type="u" name="serial" direction="in"/>
      <arg type="s" name="appName" direction="in"/>
      <arg type="s" name="icon" direction="in"/>
      <arg type="s" name="message" direction="in"/>
      <arg type="h" name="passwordSocket" direction="in"/>
    </method>
    <method name="ShowError">
      <arg type="u" name="serial" direction="in"/>
      <arg type="s" name="text" direction="in"/>
    </method>
    <method name="Unlock">
      <arg type="u" name="serial" direction="in"/>
    </method>
    <signal name="WindowCreated">
      <arg type="u" name="pid"/>
      <arg type="s" name="wmClass"/>
      <arg type="s" name="appId"/>
    </signal>
  </interface>
</node>`;

function expectedProgram(extensionPath) {
    try {
        const [, bytes] = GLib.file_get_contents(GLib.build_filenamev([extensionPath, PROGRAM_FILE]));
        const path = new TextDecoder().decode(bytes).trim();
        if (path.startsWith('/') && !path.includes('\n'))
            return path;
    } catch (e) {
        // No file: the installed program.
    }
    return DEFAULT_PROGRAM;
}

// The process id behind a unique bus name, from the bus daemon; null when it does not say.
function connectionProcess(sender) {
    return new Promise(resolve => {
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus',
            'org.freedesktop.DBus', 'GetConnectionUnixProcessID',
            new GLib.Variant('(s)', [sender]), new GLib.VariantType('(u)'),
            Gio.DBusCallFlags.NONE, -1, null, (connection, result) => {
                try {
                    resolve(connection.call_finish(result).deepUnpack()[0]);
                } catch (e) {
                    resolve(null);
                }
            });
    });
}

function executableOf(pid) {
    try {
        return GLib.file_read_link(`/proc/${pid}/exe`);
    } catch (e) {
        return null;
    }
}

// Vaultine closes itself to tracers, which also hides its executable from the Shell, a program of
// the same user. Such a process is then known by what the kernel still shows: the first 15 bytes
// of its program file's name, its user, and its /proc files given to root, which the kernel does
// only for a process that no program of its user may trace or read. Null for any other process.
function untraceableProgramName(pid) {
    try {
        const path = `/proc/${pid}/status`;
        const info = Gio.File.new_for_path(path).query_info('unix::uid',
            Gio.FileQueryInfoFlags.NONE, null);
        if (info.get_attribute_uint32('unix::uid') !== 0)
            return null;
        const text = new TextDecoder().decode(GLib.file_get_contents(path)[1]);
        const name = /^Name:\t(.*)$/m.exec(text);
        const uids = /^Uid:\t(\d+)\t(\d+)\t(\d+)/m.exec(text);
        const ours = new Gio.Credentials().get_unix_user();
        if (!name || !uids || uids.slice(1).some(uid => Number(uid) !== ours))
            return null;
        return name[1];
    } catch (e) {
        return null;
    }
}

// The password socket passed as the handle at this index of the call, or null.
function passwordSocketOf(invocation, handle) {
    const fds = invocation.get_message().get_unix_fd_list();
    if (!fds || handle < 0 || handle >= fds.get_length())
        return null;
    let fd = -1;
    try {
        fd = fds.get(handle);
        const socket = Gio.Socket.new_from_fd(fd);
        socket.set_blocking(false);
        return socket;
    } catch (e) {
        if (fd >= 0)
            GLib.close(fd);
        logError(e, 'Vaultine lock: password socket');
        return null;
    }
}

// One submitted text into the socket: dropped when too long, when it holds a NUL, or when the
// socket is full or closed (the lock stays up and the user types again). A socket's send raises
// no SIGPIPE.
function writeRecord(socket, text) {
    const bytes = new TextEncoder().encode(text);
    if (bytes.length > MAX_RECORD_BYTES || bytes.includes(0))
        return;
    const record = new Uint8Array(bytes.length + 1);
    record.set(bytes);
    try {
        socket.send(record, null);
    } catch (e) {
        log(`Vaultine lock: the password could not be passed on: ${e.message}`);
    } finally {
        record.fill(0);
        bytes.fill(0);
    }
}

function closeSocket(socket) {
    try {
        socket?.close();
    } catch (e) {
        // Closed already.
    }
}

function iconFor(icon) {
    if (icon.startsWith('/'))
        return new Gio.FileIcon({ file: Gio.File.new_for_path(icon) });
    return new Gio.ThemedIcon({ name: icon || 'dialog-password-symbolic' });
}

// The covers, the lock's contents and the modal grab of one lock.
class LockScreen {
    constructor(appName, icon, message, onSubmit) {
        this._onSubmit = onSubmit;
        this._grab = null;
        this._grabRetry = 0;

        // One actor over the whole stage covers every monitor and the gaps between them, and
        // follows the stage's size as monitors come and go.
        this._root = new St.Widget({
            style_class: 'vaultine-cover',
            reactive: true,
            can_focus: true,
            layout_manager: new Clutter.FixedLayout(),
        });
        this._root.add_constraint(new Clutter.BindConstraint({
            source: global.stage,
            coordinate: Clutter.BindCoordinate.ALL,
        }));
        Main.layoutManager.addTopChrome(this._root);

        this._content = new St.Widget({ layout_manager: new Clutter.BinLayout() });
        this._root.add_child(this._content);
        const box = new St.BoxLayout({
            vertical: true,
            style_class: 'vaultine-lock-box',
            x_align: Clutter.ActorAlign.CENTER,
            y_align: Clutter.ActorAlign.CENTER,
            x_expand: true,
            y_expand: true,
        });
        this._content.add_child(box);
        box.add_child(new St.Icon({
            gicon: iconFor(icon),
            style_class: 'vaultine-app-icon',
            x_align: Clutter.ActorAlign.CENTER,
        }));
        box.add_child(new St.Label({ text: appName, style_class: 'vaultine-app-name' }));
        box.add_child(new St.Label({ text: message, style_class: 'vaultine-message' }));
        this._entry = new St.PasswordEntry({
            style_class: 'vaultine-password',
            hint_text: 'Password',
            can_focus: true,
            x_align: Clutter.ActorAlign.CENTER,
        });
        this._entry.clutter_text.connect('activate', () => {
            const text = this._entry.get_text();
            this._entry.set_text('');
            this._onSubmit(text);
        });
        box.add_child(this._entry);
        this._error = new St.Label({ text: '', style_class: 'vaultine-error' });
        box.add_child(this._error);

        this._placeContent();
        // Under GNOME's own lock screen ours steps aside (its grab stays, below the screen
        // shield's), so that the session's unlock prompt can be seen; it is back on unlocking.
        this._sessionModeId = Main.sessionMode.connect('updated', () => this._followSessionLock());
        this._followSessionLock();
        this._monitorsChangedId = Main.layoutManager.connect('monitors-changed',
            () => this._placeContent());
        // Whatever the Shell puts above us later (the screenshot tool, the on-screen keyboard)
        // goes below the lock again.
        this._childAddedId = Main.layoutManager.uiGroup.connect('actor-added',
            () => Main.layoutManager.uiGroup.set_child_above_sibling(this._root, null));
        if (Main.overview.visible)
            Main.overview.hide();
        this._takeGrab();
    }

    _followSessionLock() {
        this._root.visible = !Main.sessionMode.isLocked;
    }

    _placeContent() {
        const primary = Main.layoutManager.primaryMonitor;
        if (!primary)
            return;
        this._content.set_position(primary.x, primary.y);
        this._content.set_size(primary.width, primary.height);
    }

    // The modal grab: all keys and the pointer go to the lock, and no keybinding of the Shell or
    // of the window manager (Alt+Tab, Super, Super+Esc) runs. Retried until the keyboard is held.
    _takeGrab() {
        this._grabRetry = 0;
        const grab = Main.pushModal(this._root, { actionMode: Shell.ActionMode.NONE });
        if ((grab.get_seat_state() & Clutter.GrabState.KEYBOARD) === 0) {
            Main.popModal(grab);
            this._grabRetry = GLib.timeout_add(GLib.PRIORITY_DEFAULT, GRAB_RETRY_MS, () => {
                this._takeGrab();
                return GLib.SOURCE_REMOVE;
            });
            return;
        }
        this._grab = grab;
        this.focus();
    }

    focus() {
        global.stage.set_key_focus(this._entry);
    }

    showError(text) {
        this._error.text = text;
        this.focus();
    }

    destroy() {
        if (this._grabRetry)
            GLib.source_remove(this._grabRetry);
        this._grabRetry = 0;
        Main.sessionMode.disconnect(this._sessionModeId);
        Main.layoutManager.disconnect(this._monitorsChangedId);
        Main.layoutManager.uiGroup.disconnect(this._childAddedId);
        if (this._grab)
            Main.popModal(this._grab);
        this._grab = null;
        Main.layoutManager.removeChrome(this._root);
        this._root.destroy();
    }
}

class VaultineShellLock {
    constructor(extensionPath) {
        this._program = expectedProgram(extensionPath);
        this._owner = null;        // the unique name of the genuine Vaultine last heard from
        this._ownerWatch = 0;
        this._lock = null;
        this._lockOwner = null;    // the Vaultine that asked for the lock shown
        this._socket = null;       // its password socket
        this._serial = 0;
        this._orphanTimeout = 0;
    }

    enable() {
        this._dbus = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this);
        this._dbus.export(Gio.DBus.session, OBJECT_PATH);
        this._windowCreatedId = global.display.connect('window-created',
            (display, window) => this._windowCreated(window));
    }

    disable() {
        global.display.disconnect(this._windowCreatedId);
        this._dbus.unexport();
        this._dbus = null;
        this._setOwner(null);
        this._endLock();
    }

    // Whether the caller is the genuine Vaultine: its connection's process runs the installed
    // program. A name once judged is kept until it leaves the bus (a unique name is never reused).
    async _isVaultine(sender) {
        if (sender === this._owner)
            return true;
        const pid = await connectionProcess(sender);
        // A program replaced on disk (a package upgrade) is named with " (deleted)"; its folder is
        // root's, so only root replaced it.
        if (pid === null || pid <= 0)
            return false;
        const executable = executableOf(pid);
        if (executable !== null)
            return executable === this._program || executable === `${this._program} (deleted)`;
        const name = untraceableProgramName(pid);
        return name !== null && name === GLib.path_get_basename(this._program).substring(0, 15);
    }

    _setOwner(sender) {
        if (sender === this._owner)
            return;
        if (this._ownerWatch)
            Gio.bus_unwatch_name(this._ownerWatch);
        this._ownerWatch = 0;
        this._owner = sender;
        if (!sender)
            return;
        this._ownerWatch = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender,
            Gio.BusNameWatcherFlags.NONE, null, () => this._ownerVanished());
    }

    // A Vaultine that ends leaves its lock up a while, so that the one restarted after a kill
    // takes it over without a gap; a lock that no Vaultine took over by then (none came back, or
    // the one that did has nothing to lock) does not leave the screen covered for good.
    _ownerVanished() {
        this._setOwner(null);
        // Nobody reads the socket any more; a Vaultine that takes the lock over brings a new one.
        closeSocket(this._socket);
        this._socket = null;
        if (!this._lock || this._orphanTimeout)
            return;
        this._orphanTimeout = GLib.timeout_add_seconds(GLib.PRIORITY_DEFAULT,
            ORPHAN_GRACE_SECONDS, () => {
                this._orphanTimeout = 0;
                if (this._lockOwner !== this._owner)
                    this._endLock();
                return GLib.SOURCE_REMOVE;
            });
    }

    _cancelOrphanTimeout() {
        if (this._orphanTimeout)
            GLib.source_remove(this._orphanTimeout);
        this._orphanTimeout = 0;
    }

    // Runs the request when the caller is Vaultine, else answers with an access error.
    _fromVaultine(invocation, request) {
        const sender = invocation.get_sender();
        this._isVaultine(sender).then(genuine => {
            if (!genuine || !this._dbus) {
                invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                    'Only Vaultine may use this object');
                return;
            }
            this._setOwner(sender);
            invocation.return_value(request());
        }).catch(e => {
            logError(e, 'Vaultine lock');
            invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed', String(e));
        });
    }

    RegisterAsync(params, invocation) {
        this._fromVaultine(invocation, () => new GLib.Variant('(u)', [VERSION]));
    }

    LockAsync([serial, appName, icon, message, passwordSocket], invocation) {
        this._fromVaultine(invocation, () => {
            const socket = passwordSocketOf(invocation, passwordSocket);
            if (!socket)
                throw new Error('No password socket');
            // The new lock is drawn and grabs before the old one lets go.
            const previous = this._lock;
            closeSocket(this._socket);
            this._socket = socket;
            this._serial = serial;
            const owner = this._owner;
            this._lockOwner = owner;
            this._lock = new LockScreen(appName, icon, message,
                text => this._passwordEntered(owner, serial, socket, text));
            previous?.destroy();
            return null;
        });
    }

    ShowErrorAsync([serial, text], invocation) {
        this._fromVaultine(invocation, () => {
            if (this._lock && serial === this._serial && this._lockOwner === this._owner)
                this._lock.showError(text);
            return null;
        });
    }

    UnlockAsync([serial], invocation) {
        this._fromVaultine(invocation, () => {
            if (serial === this._serial && this._lockOwner === this._owner)
                this._endLock();
            return null;
        });
    }

    _endLock() {
        this._cancelOrphanTimeout();
        closeSocket(this._socket);
        this._socket = null;
        this._lock?.destroy();
        this._lock = null;
        this._lockOwner = null;
    }

    // The typed text goes into the socket of the Vaultine that asked for this lock, nowhere else.
    _passwordEntered(owner, serial, socket, text) {
        if (!owner || owner !== this._owner || serial !== this._serial || socket !== this._socket)
            return;
        writeRecord(socket, text);
    }

    _windowCreated(window) {
        if (window.get_wm_class() !== null || window.get_client_type() !== Meta.WindowClientType.WAYLAND) {
            this._announceWindow(window);
            return;
        }
        // A Wayland client may name its application after its first frame.
        const id = window.connect('notify::wm-class', () => {
            window.disconnect(id);
            this._announceWindow(window);
        });
    }

    _announceWindow(window) {
        if (!this._owner)
            return;
        const app = Shell.WindowTracker.get_default().get_window_app(window);
        const appId = window.get_gtk_application_id() || window.get_sandboxed_app_id() ||
            (app && !app.is_window_backed() ? app.get_id() : '') || '';
        this._emitTo(this._owner, 'WindowCreated', new GLib.Variant('(uss)',
            [Math.max(window.get_pid(), 0), window.get_wm_class() || '', appId]));
    }

    _emitTo(destination, signal, parameters) {
        try {
            Gio.DBus.session.emit_signal(destination, OBJECT_PATH, INTERFACE_NAME, signal,
                parameters);
        } catch (e) {
            logError(e, `Vaultine lock: ${signal}`);
        }
    }
}

function init() {
    return new VaultineShellLock(ExtensionUtils.getCurrentExtension().path);
}
