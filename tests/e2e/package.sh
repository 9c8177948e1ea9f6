#!/usr/bin/env bash
# The Debian package: made with CPack from this build, its dependencies resolvable by apt on this
# machine, its files where the system expects them; unpacked into a scratch root, the installed
# bundle started the way the application menu starts it locks an application and unlocks it.
. "$(dirname "$0")/lib.sh"

BUILD_DIR=$(cd "$(dirname "$VAULTINE_BUNDLE")" && pwd)
SCRATCH=$(mktemp -d)
# The programs run from the scratch root: stop them before it goes, then the usual clean-up.
package_cleanup() {
    local status=$?
    stop_programs
    rm -rf "$SCRATCH"
    (exit $status)
    cleanup
}
trap package_cleanup EXIT
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
apt-get install --simulate --no-install-recommends "$deb" > "$E2E_ARTIFACTS/apt-simulate.log" 2>&1 ||
    fail "apt cannot resolve the package's dependencies: $(tail -n 5 "$E2E_ARTIFACTS/apt-simulate.log")"

# The files: the bundle with its helper, the command, the desktop entry and the icon.
dpkg-deb -c "$deb" | awk '{print $6}' > "$E2E_ARTIFACTS/contents.txt"
for file in ./opt/vaultine/Vaultine.app/Contents/Info.json \
    ./opt/vaultine/Vaultine.app/Contents/bin/Vaultine \
    ./opt/vaultine/Vaultine.app/Contents/Library/LoginItems/Corvane.app/Contents/Info.json \
    ./opt/vaultine/Vaultine.app/Contents/Library/LoginItems/Corvane.app/Contents/bin/Corvane \
    ./usr/bin/vaultine ./usr/share/applications/org.vaultine.Vaultine.desktop \
    ./usr/share/icons/hicolor/scalable/apps/org.vaultine.Vaultine.svg; do
    grep -qxF "$file" "$E2E_ARTIFACTS/contents.txt" || fail "the package lacks $file"
done
ROOT=$SCRATCH/root
dpkg-deb -x "$deb" "$ROOT"
entry=$ROOT/usr/share/applications/org.vaultine.Vaultine.desktop
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "the desktop entry is not valid"
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
