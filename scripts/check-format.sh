#!/usr/bin/env bash
# Fails when a C++ source of the tree differs from what clang-format (the repository's
# .clang-format) makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "check-format: $(git ls-files '*.cpp' '*.h' | wc -l) files are formatted"
