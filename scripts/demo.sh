#!/bin/sh
# Installs what is missing, builds, starts the simulated cameras and runs the
# program connected to the first of them. Without a display the program runs
# under Xvfb until its picture is live plus DEMO_SECONDS (default 20), and a
# screenshot is written to build/artifacts/demo.png.
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

mkdir -p build/artifacts build/demo
export ARDENIX_DB="$root/build/demo/ardenix.dat"
# The demo's pictures stay with its own statistics file.
export ARDENIX_SNAPSHOT_DIR="$root/build/demo"
export KVSDK_SEARCH_TARGETS="${KVSDK_SEARCH_TARGETS:-127.0.0.1}"

camsim_pid=""
cleanup() {
    [ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null || true
}
trap cleanup EXIT INT TERM

if [ -x build/bin/camsim ]; then
    build/bin/camsim --cameras 3 --address 127.0.0.2 --people-per-minute 20 2>build/demo/camsim.log &
    camsim_pid=$!
    echo "camsim: three cameras at 127.0.0.2-4, user admin, empty password (log: build/demo/camsim.log)"
fi

# The program connects to the first camera by itself, as a screening station
# does when it starts.
cd build/demo
if [ -n "${DISPLAY:-}" ]; then
    exec "$root/build/bin/ardenix" --connect 127.0.0.2
fi

seconds="${DEMO_SECONDS:-20}"
shot="$root/build/artifacts/demo.png"
"$root/scripts/with-xvfb.sh" sh -c '
    log="$1/build/demo/ardenix.log"
    "$1/build/bin/ardenix" --connect 127.0.0.2 >"$log" 2>&1 & app=$!
    # The screenshot waits for the live picture (bounded), then for a person
    # or two to be measured.
    i=0
    while [ $i -lt 60 ] && ! grep -q PreviewFirstFrame "$log"; do sleep 0.5; i=$((i + 1)); done
    sleep "$2"
    import -window root "$3"
    kill $app' sh "$root" "$seconds" "$shot"
echo "screenshot: $shot (log: build/demo/ardenix.log)"
