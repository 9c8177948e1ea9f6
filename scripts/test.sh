#!/usr/bin/env bash
# Sets up and runs every test: installs the packages, builds the `test` preset (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs CTest (unit, widget, integration and end-to-end tests) inside
# a private desktop session; then builds the libFuzzer targets with clang and runs each briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-packages.sh
cmake --preset test
cmake --build --preset test
# Sanitizer settings: leaks are reported, the X and GLib libraries' own one-time allocations are not
# failures of ours.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scripts/desktop-session.sh run -- ctest --preset test "$@"

# The parsers of outside input, fuzzed for a bounded time.
cmake --preset fuzz
cmake --build --preset fuzz
scripts/run-fuzzers.sh
