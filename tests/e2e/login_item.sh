#!/usr/bin/env bash
# The popover's "Start at login" switch: on writes the user's XDG autostart entry that starts
# Corvane at login, off removes it; the setting is stored with it. While it is on, an entry that is
# deleted, hidden, edited so that a desktop skips it, or replaced by a folder is written again
# within seconds.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/support/popover.sh"

ENTRY=$XDG_CONFIG_HOME/autostart/$CORVANE_ID.desktop
entry_exists() { [ -f "$ENTRY" ]; }
entry_gone() { [ ! -e "$ENTRY" ]; }
login_setting() {
    secret-tool lookup xdg:schema org.vaultine.Keychain account "$VAULTINE_ID (LoginStart)" 2>/dev/null
}
# The switch sits in the popover's bottom row, at its right end.
click_login_switch() { click_in "$(popover_window)" 285 397; }

stop_programs
clear_settings
rm -f "$ENTRY"
start_with_popover_open
entry_gone || fail "an autostart entry exists before the switch was turned on"

click_login_switch
wait_until 5 entry_exists || fail "turning the switch on wrote no autostart entry"
screenshot login-switch-on
grep -qx "Type=Application" "$ENTRY" || fail "the autostart entry is no application entry"
exec_line=$(sed -n 's/^Exec=//p' "$ENTRY")
# The entry starts the bundled Corvane by its full path (quoted, as Exec requires).
[ "$(echo "$exec_line" | tr -d '"')" = "$(cd "$CORVANE_BUNDLE" && pwd)/Contents/bin/Corvane" ] ||
    fail "the autostart entry runs \"$exec_line\", not the bundle's Corvane"
[ -x "$(echo "$exec_line" | tr -d '"')" ] || fail "the autostart entry's program is not executable"
[ "$(login_setting)" = "1" ] || fail "the switch's setting was not stored (got \"$(login_setting)\")"

WRITTEN=$(cat "$ENTRY")
entry_as_written() { [ -f "$ENTRY" ] && [ ! -L "$ENTRY" ] && [ "$(cat "$ENTRY")" = "$WRITTEN" ]; }
rm -f "$ENTRY"
wait_until 5 entry_as_written || fail "a deleted autostart entry was not written again"
echo "Hidden=true" >> "$ENTRY"
wait_until 5 entry_as_written || fail "an autostart entry hidden by hand was not written again"
wait_for_line "registering it again"
# Keys that make a desktop skip the entry: every desktop named, systemd's generator told to skip.
echo "NotShowIn=GNOME;KDE;XFCE;MATE;LXQt;X-Cinnamon;" >> "$ENTRY"
wait_until 5 entry_as_written || fail "an autostart entry edited with NotShowIn was not written again"
sed -i 's/^Type=Application$/Type=Application\nX-systemd-skip=true/' "$ENTRY"
wait_until 5 entry_as_written || fail "an autostart entry edited with X-systemd-skip was not written again"
# A folder in place of the entry is moved aside, not left to shadow it.
# (Vaultine may write the entry again between the removal and the mkdir: then again.)
replace_by_folder() { rm -f "$ENTRY" && mkdir "$ENTRY" 2>/dev/null; }
wait_until 5 replace_by_folder || fail "could not put a folder in place of the autostart entry"
wait_until 5 entry_as_written || fail "a folder in place of the autostart entry was left there"
rm -rf "$ENTRY".displaced-*

click_login_switch
wait_until 5 entry_gone || fail "turning the switch off left the autostart entry"
[ "$(login_setting)" = "0" ] || fail "the switch's off setting was not stored (got \"$(login_setting)\")"
log "ok"
