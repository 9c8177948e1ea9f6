#!/usr/bin/env bash
# Runs every libFuzzer target of build-fuzz for a bounded time on its corpus (tests/fuzz/corpus/…,
# extended with what the run finds in a scratch copy) and fails when one of them finds a crash.
#   run-fuzzers.sh [SECONDS_PER_TARGET]     (VAULTINE_FUZZ_BUILD names another build folder)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${VAULTINE_FUZZ_SECONDS:-20}}
build=${VAULTINE_FUZZ_BUILD:-build-fuzz}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shopt -s nullglob
fuzzers=("$build"/tests/fuzz/*Fuzzer)
if [ ${#fuzzers[@]} -eq 0 ]; then
    echo "fuzz: no fuzz targets in $build/tests/fuzz (build them with the fuzz preset)"
    exit 1
fi
failed=0
for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer" Fuzzer)
    # BundleInfo -> bundle_info
    corpus_name=$(echo "$name" | sed -E 's/([a-z0-9])([A-Z])/\1_\2/g' | tr '[:upper:]' '[:lower:]')
    mkdir -p "$work/$corpus_name"
    [ -d "tests/fuzz/corpus/$corpus_name" ] && cp -r "tests/fuzz/corpus/$corpus_name/." "$work/$corpus_name/"
    if QT_QPA_PLATFORM=offscreen "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=4096 \
        -artifact_prefix="$work/" "$work/$corpus_name" > "$work/$name.log" 2>&1; then
        runs=$(grep -Eo '#[0-9]+' "$work/$name.log" | tail -n 1 | tr -d '#')
        echo "fuzz: $name: ${runs:-0} inputs in ${seconds}s, no crash"
    else
        echo "fuzz: $name FOUND A CRASH:"
        tail -n 40 "$work/$name.log"
        mkdir -p "$build/artifacts" && cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$build/artifacts/" 2>/dev/null || true
        failed=1
    fi
done
exit $failed
