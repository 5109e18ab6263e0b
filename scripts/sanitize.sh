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

# Leaks are reported; only those inside system libraries that the program
# cannot free are suppressed (scripts/lsan.supp). Libraries stay loaded until
# the process ends (dlclose does nothing), so that what an unloaded plugin
# held does not look leaked and every report can name its library.
if [ "$mode" = asan ]; then
    printf 'int dlclose(void* handle) { (void)handle; return 0; }\n' >"$dir/keep-loaded.c"
    cc -shared -fPIC -O2 -o "$dir/keep-loaded.so" "$dir/keep-loaded.c"
    export LD_PRELOAD="$(pwd)/$dir/keep-loaded.so${LD_PRELOAD:+:$LD_PRELOAD}"
fi
# Leak checking stops the process's threads with ptrace, which some
# containers forbid; there it is switched off, with a notice, rather than
# failing every test.
leaks=1
if [ "$mode" = asan ]; then
    printf '#include <stdlib.h>\nvoid* kept;\nint main(void) { kept = malloc(7); kept = 0; return 0; }\n' >"$dir/leak-probe.c"
    if cc -fsanitize=address -o "$dir/leak-probe" "$dir/leak-probe.c" 2>/dev/null; then
        if ASAN_OPTIONS=detect_leaks=1 "$dir/leak-probe" 2>&1 | grep -q "LeakSanitizer has encountered a fatal error"; then
            echo "sanitize.sh: leak checking is not possible here (no ptrace); running without it" >&2
            leaks=0
        fi
    fi
fi
export ASAN_OPTIONS="detect_leaks=$leaks:verify_asan_link_order=0:abort_on_error=1:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/scripts/tsan.supp:${TSAN_OPTIONS:-}"
cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 900 "$@"
