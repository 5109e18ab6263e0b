#!/bin/sh
# Builds and runs the benchmarks in bench/ (all, or those named).
# Each prints:  BENCH <name> ratio=<ours/reference> ours=<v><unit> reference=<v><unit>
#   scripts/bench.sh              all benchmarks
#   scripts/bench.sh startup      one of them
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

if [ $# -eq 0 ]; then
    set -- $(find bench -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort)
fi

export ARDENIX_SOURCE_DIR="$root" ARDENIX_BUILD_DIR="$root/build"
status=0
for name in "$@"; do
    # A benchmark is either a script (bench/NAME/run.sh) that orchestrates
    # several processes, or a program built as build/bench/bench-NAME.
    if [ -x "bench/$name/run.sh" ]; then
        "bench/$name/run.sh" || status=1
    elif [ -x "build/bench/bench-$name" ]; then
        "build/bench/bench-$name" || status=1
    else
        echo "bench.sh: no benchmark named $name" >&2
        status=1
    fi
done
exit $status
