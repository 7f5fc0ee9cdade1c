#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from .clang-format's layout
# (clang-format -i on the file mends it).
set -uo pipefail
cd "$(dirname "$0")/.."
if git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror 2>&1 | grep -E 'error|warning'; then
    echo "format: files differ from .clang-format (run clang-format -i on them)"
    exit 1
fi
echo "format: clean"
