#!/usr/bin/env bash
# Sets up, builds and starts Vaultine. In an X session it starts there; without a display it
# starts a private desktop session first, takes a screenshot after a few seconds and tells where.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-packages.sh
cmake --preset default
cmake --build --preset default
VAULTINE=build/Vaultine.app/Contents/bin/Vaultine

if [ -n "${DISPLAY:-}" ]; then
    exec "$VAULTINE"
fi

echo "run: no display; starting a private desktop session"
screenshot=$(pwd)/build/vaultine-screenshot.png
scripts/desktop-session.sh run -- bash -c '
    "$0" & pid=$!
    sleep 4
    import -window root "$1" && echo "run: screenshot of the session: $1"
    echo "run: Vaultine runs in the private session on $DISPLAY; press Ctrl+C to stop it"
    wait $pid
' "$VAULTINE" "$screenshot"
