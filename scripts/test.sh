#!/bin/sh
# Installs what is missing, builds everything in build/ and runs every test.
# Exits non-zero when anything fails.
set -eu
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

status=0
# The full fault matrix (label long, about ten minutes) runs in
# scripts/faults.sh instead.
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 600 -LE long) || status=1

# Further checks (fuzzing for a bounded time, sanitizer runs) each live in a
# script of their own in scripts/ci.d/ and run after the tests.
for check in scripts/ci.d/*.sh; do
    [ -e "$check" ] || continue
    echo "== $check"
    sh "$check" || status=1
done

exit $status
