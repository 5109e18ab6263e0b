#!/bin/sh
# Builds and runs the benchmarks in bench/ (all, or those named).
# Each prints:  BENCH <name> ratio=<median ours/reference> ours=<v><unit> reference=<v><unit> min=<ratio> max=<ratio>
#   scripts/bench.sh              all benchmarks
#   scripts/bench.sh startup      one of them
# They build as Release in build-bench/, apart from the tests' build/ (another
# build type there would make each switch rebuild everything).
# BENCH_ROUNDS and BENCH_SECONDS shorten or lengthen the stream benchmarks.
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"
dir="$root/build-bench"

scripts/deps.sh

if [ $# -eq 0 ]; then
    set -- $(find bench -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort)
fi

# Only the benchmark programs and what they run (their dependencies); a
# script benchmark may run anything, so then everything is built.
targets=""
for name in "$@"; do
    if [ -x "bench/$name/run.sh" ]; then
        targets=all
        break
    fi
    [ -f "bench/$name/CMakeLists.txt" ] && targets="$targets bench-$name"
done
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
if [ -n "$targets" ]; then
    # shellcheck disable=SC2086 # one word per target
    cmake --build "$dir" -j"$(nproc)" --target $targets >/dev/null
fi

export ARDENIX_SOURCE_DIR="$root" ARDENIX_BUILD_DIR="$dir"
status=0
for name in "$@"; do
    # A benchmark is either a script (bench/NAME/run.sh) that orchestrates
    # several processes, or a program built as build-bench/bench/bench-NAME.
    if [ -x "bench/$name/run.sh" ]; then
        "bench/$name/run.sh" || status=1
    elif [ -x "$dir/bench/bench-$name" ]; then
        "$dir/bench/bench-$name" || status=1
    else
        echo "bench.sh: no benchmark named $name" >&2
        status=1
    fi
done
exit $status
