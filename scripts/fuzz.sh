#!/bin/sh
# Builds the alarm client's fuzz targets with clang-14 (libFuzzer, ASan and
# UBSan) in build-fuzz/ and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS-PER-TARGET]      (default 60)
# Seeds come from tests/data/alarmclient/; the growing corpora stay in
# build-fuzz/corpus-*/. Exits non-zero when a target finds a fault.
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-60}"
case "$seconds" in
    ''|*[!0-9]*) echo "fuzz.sh: seconds must be a whole number" >&2; exit 2 ;;
esac

CXX="${FUZZ_CXX:-clang++-14}"
out="build-fuzz${ARDENIX_BUILD_TAG:+-$ARDENIX_BUILD_TAG}"
mkdir -p "$out"
src=alarmclient/src
flags="-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -Ialarmclient/include -I$src $(pkg-config --cflags jsoncpp)"
libs="$(pkg-config --libs jsoncpp) -lcrypto"

build() {
    name="$1"
    shift
    # shellcheck disable=SC2086
    "$CXX" $flags -o "$out/$name" "tests/alarmclient/fuzz/$name.cpp" "$@" $libs
}
build fuzz_frame_reader "$src/Wire.cpp" "$src/Cipher.cpp" "$src/Console.cpp" &
pid=$!
build fuzz_json_routing "$src/MessageRouter.cpp" "$src/LogSink.cpp" "$src/Wire.cpp" "$src/Cipher.cpp" "$src/Console.cpp"
wait "$pid"

# Seeds: frames as they are; JSON documents behind a data-kind byte of 1.
mkdir -p "$out/corpus-frame" "$out/corpus-json"
cp tests/data/alarmclient/frames/*.bin "$out/corpus-frame/"
for f in tests/data/alarmclient/*.json; do
    { printf '\001'; cat "$f"; } > "$out/corpus-json/seed-$(basename "$f")"
done

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
status=0
for target in fuzz_frame_reader fuzz_json_routing; do
    corpus="$out/corpus-frame"
    [ "$target" = fuzz_json_routing ] && corpus="$out/corpus-json"
    echo "== $target for ${seconds}s"
    if ! "$out/$target" "$corpus" -max_total_time="$seconds" -max_len=1100 -timeout=10 \
            -artifact_prefix="$out/$target-" -print_final_stats=1 2>"$out/$target.log"; then
        echo "fuzz.sh: $target found a fault; see $out/$target.log" >&2
        tail -40 "$out/$target.log" >&2
        status=1
    else
        grep -E "stat::number_of_executed_units|Done" "$out/$target.log" | tail -2
    fi
done
exit $status
