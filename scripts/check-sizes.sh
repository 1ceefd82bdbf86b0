#!/bin/sh
# The sizes a maintainer can read at once: no C++ file outside tests/ over
# 350 lines, no function there over 80 (from its opening brace at the start
# of a line to its closing one).
cd "$(dirname "$0")/.."
status=0
for f in $(git ls-files '*.cpp' '*.h' | grep -v '^tests/'); do
    lines=$(wc -l < "$f")
    if [ "$lines" -gt 350 ]; then
        echo "check-sizes: $f has $lines lines; split it (350 at most)" >&2
        status=1
    fi
    awk -v file="$f" '
        /^\{/ { start = NR; name = previous }
        /^\}/ && start { if (NR - start - 1 > 80) { printf "check-sizes: %s:%d: %s is %d lines; split it (80 at most)\n", file, start, name, NR - start - 1; bad = 1 } start = 0 }
        { previous = $0 }
        END { exit bad }' "$f" >&2 || status=1
done
exit $status
