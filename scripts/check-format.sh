#!/bin/sh
# Fails, listing the files, when any C++ source differs from .clang-format's
# layout. Fix with: git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -e
cd "$(dirname "$0")/.."
command -v clang-format > /dev/null || { echo "check-format: clang-format is missing; run scripts/setup-debian.sh" >&2; exit 1; }
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
