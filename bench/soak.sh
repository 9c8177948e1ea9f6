#!/usr/bin/env bash
# The full soak: 500 launches of the locked test application and 50 kills of Vaultine and Corvane
# in a private desktop session; prints the figures of tests/e2e/soak.sh (launches, kills, lock-ups,
# Vaultine's descriptors, resident memory and windows, elapsed time).
#   VAULTINE_BUNDLE=<build>/Vaultine.app bench/soak.sh [LAUNCHES] [KILLS]
source_dir=$(cd "$(dirname "$0")/.." && pwd)
export VAULTINE_SOURCE_DIR=${VAULTINE_SOURCE_DIR:-$source_dir}
export E2E_ARTIFACTS=${E2E_ARTIFACTS:-$(dirname "${VAULTINE_BUNDLE:?VAULTINE_BUNDLE must name the built Vaultine.app}")/bench-artifacts/soak}
export SOAK_LAUNCHES=${1:-${SOAK_LAUNCHES:-500}} SOAK_KILLS=${2:-${SOAK_KILLS:-50}}
exec bash "$source_dir/tests/e2e/soak.sh"
