#!/bin/sh
# Builds with sanitizers and runs the tests there.
#   scripts/sanitize.sh asan [COMPONENT…] [-- CTEST-ARGS…]   AddressSanitizer + UBSan, in build-asan/
#   scripts/sanitize.sh tsan [COMPONENT…] [-- CTEST-ARGS…]   ThreadSanitizer, in build-tsan/
# Components are folders as in the top-level CMakeLists.txt; none means all.
set -eu
cd "$(dirname "$0")/.."
mode="${1:?asan or tsan}"
shift
components=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    components="${components:+$components;}$1"
    shift
done
[ "${1:-}" = "--" ] && shift

case "$mode" in
    asan) flags="address,undefined" ;;
    tsan) flags="thread" ;;
    *) echo "sanitize.sh: unknown mode $mode" >&2; exit 2 ;;
esac

# ARDENIX_BUILD_TAG keeps the build folders of parallel work apart.
dir="build-$mode${ARDENIX_BUILD_TAG:+-$ARDENIX_BUILD_TAG}"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DARDENIX_SANITIZE="$flags" -DARDENIX_COMPONENTS="$components" >/dev/null
cmake --build "$dir" -j"$(nproc)"

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/scripts/tsan.supp:${TSAN_OPTIONS:-}"
cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 900 "$@"
