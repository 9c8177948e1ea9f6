#!/usr/bin/env bash
# The popover's "Start at login" switch: on writes the user's XDG autostart entry that starts
# Corvane at login, off removes it; the setting is stored with it. While it is on, an entry that is
# deleted or hidden is written again within seconds.
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

entry_starts_corvane() { entry_exists && ! grep -q "^Hidden=true" "$ENTRY"; }
rm -f "$ENTRY"
wait_until 5 entry_starts_corvane || fail "a deleted autostart entry was not written again"
echo "Hidden=true" >> "$ENTRY"
wait_until 5 entry_starts_corvane || fail "an autostart entry hidden by hand was not written again"
wait_for_line "registering it again"

click_login_switch
wait_until 5 entry_gone || fail "turning the switch off left the autostart entry"
[ "$(login_setting)" = "0" ] || fail "the switch's off setting was not stored (got \"$(login_setting)\")"
log "ok"
