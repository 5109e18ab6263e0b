#!/bin/sh
# The whole fault matrix at full length with the real ardenix program and
# camsim on 127.0.80.x: nothing lost over E2E_MINUTES (default 2) minutes,
# steady and with drops; the camera restarted; the alarm service dropping
# and refusing; malformed frames; the video stopping; the snapshot folder
# unwritable and its disk full; the program killed E2E_KILLS (default 20)
# times during an alarm storm; the statistics file locked, read-only and
# deleted. CTest runs the same programs shorter (label e2e).
#   scripts/faults.sh [BUILD-DIR]       (default build-e2e/)
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-e2e}"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target ardenix camsim test_e2e_nothing_lost test_e2e_faults test_e2e_store_faults \
    test_store_writes >/dev/null

export ARDENIX_BUILD_DIR="$build" ARDENIX_SOURCE_DIR="$root" LP_NUM_THREADS=0
export E2E_MINUTES="${E2E_MINUTES:-2}" E2E_KILLS="${E2E_KILLS:-20}"
mkdir -p "$build/xdg-runtime" && chmod 700 "$build/xdg-runtime"
export XDG_RUNTIME_DIR="$build/xdg-runtime"
cd "$build/tests"
status=0
"$build/tests/test_store_writes" || status=1
for t in test_e2e_nothing_lost test_e2e_faults test_e2e_store_faults; do
    echo "== $t"
    "$root/scripts/with-xvfb.sh" "$build/tests/$t" || status=1
done
exit $status
