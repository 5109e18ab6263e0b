#!/bin/sh
# Builds the fuzz targets of every parser of outside input with clang-14
# (libFuzzer, ASan and UBSan) in build-fuzz/ and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS-PER-TARGET [TARGET…]]      (default 60, all)
# FUZZ_JOBS=2 runs two targets at a time. Seeds come from tests/data/; the
# growing corpora stay in build-fuzz/corpus-*/. Exits non-zero when a target
# finds a fault; the input is left as build-fuzz/<target>-crash-*.
set -eu
cd "$(dirname "$0")/.."
top="$(pwd)"
seconds="${1:-60}"
case "$seconds" in
    ''|*[!0-9]*) echo "fuzz.sh: seconds must be a whole number" >&2; exit 2 ;;
esac
[ $# -gt 0 ] && shift
jobs="${FUZZ_JOBS:-1}"
case "$jobs" in
    ''|*[!0-9]*|0) echo "fuzz.sh: FUZZ_JOBS must be a positive number" >&2; exit 2 ;;
esac

all="fuzz_frame_reader fuzz_json_routing fuzz_temperature_frame fuzz_camera_messages
     fuzz_picture_name fuzz_config_ini fuzz_printer_ini fuzz_tspl_quoting"
targets="${*:-$all}"

CXX="${FUZZ_CXX:-clang++-14}"
out="build-fuzz${ARDENIX_BUILD_TAG:+-$ARDENIX_BUILD_TAG}"
mkdir -p "$out"
flags="-std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"
qt="-I. $(pkg-config --cflags --libs Qt5Core)"
ac=alarmclient/src
cam=standins/camera-sdk
lp=labelprinter

# build NAME SOURCE… [-- EXTRA-FLAGS…]
build() {
    name="$1"
    shift
    srcs=""
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        srcs="$srcs $1"
        shift
    done
    [ "${1:-}" = "--" ] && shift
    # shellcheck disable=SC2086
    "$CXX" $flags -o "$out/$name" $srcs "$@"
}

build_target() {
    case "$1" in
    fuzz_frame_reader)
        build "$1" tests/fuzz/fuzz_frame_reader.cpp $ac/Wire.cpp $ac/Cipher.cpp $ac/Console.cpp \
            -- -Ialarmclient/include -I$ac $(pkg-config --cflags --libs jsoncpp) -lcrypto ;;
    fuzz_json_routing)
        build "$1" tests/fuzz/fuzz_json_routing.cpp $ac/MessageRouter.cpp $ac/LogSink.cpp $ac/Wire.cpp \
            $ac/Cipher.cpp $ac/Console.cpp -- -Ialarmclient/include -I$ac $(pkg-config --cflags --libs jsoncpp) -lcrypto ;;
    fuzz_temperature_frame)
        build "$1" tests/fuzz/fuzz_temperature_frame.cpp device/TemperatureFrame.cpp device/ThermalPalette.cpp -- $qt ;;
    fuzz_camera_messages)
        build "$1" tests/fuzz/fuzz_camera_messages.cpp $cam/src/Protocol.cpp $cam/src/Wire.cpp $cam/src/Net.cpp \
            -- -I$cam/include -I$cam/src -pthread ;;
    fuzz_picture_name)
        build "$1" tests/fuzz/fuzz_picture_name.cpp store/PictureName.cpp -- $qt ;;
    fuzz_config_ini)
        # The settings file's place is decided in store/ where that exists.
        build "$1" tests/fuzz/fuzz_config_ini.cpp app/ConfigFile.cpp $(ls store/AppPaths.cpp 2>/dev/null) -- $qt ;;
    fuzz_printer_ini)
        build "$1" tests/fuzz/fuzz_printer_ini.cpp $lp/portable/ProfileIni.cpp $lp/portable/Utf8Text.cpp -- -I$lp ;;
    fuzz_tspl_quoting)
        build "$1" tests/fuzz/fuzz_tspl_quoting.cpp $lp/LabelContent.cpp $lp/portable/NarrowText.cpp \
            $lp/portable/Utf8Text.cpp -- -I$lp -I$lp/include -DTAGWRIGHT_BUILDING ;;
    *) echo "fuzz.sh: unknown target $1" >&2; return 2 ;;
    esac
}

# seed TARGET: fills the corpus folder from tests/data/.
seed() {
    corpus="$out/corpus-$1"
    mkdir -p "$corpus"
    case "$1" in
    fuzz_frame_reader) cp tests/data/alarmclient/frames/*.bin "$corpus/" ;;
    fuzz_json_routing)
        # JSON documents behind a data-kind byte of 1.
        for f in tests/data/alarmclient/*.json; do
            { printf '\001'; cat "$f"; } > "$corpus/seed-$(basename "$f")"
        done ;;
    fuzz_temperature_frame) cp tests/data/device/temperature/*.bin "$corpus/" ;;
    fuzz_camera_messages)
        # The kind byte in front: 0 search, 1 login, 2 configuration, 3 frame, 4 stream opening.
        for f in tests/data/standins/camera-sdk/answers/*.bin; do
            case "$(basename "$f")" in
                search-*) kind='\000' ;; login-*) kind='\001' ;; config-*) kind='\002' ;;
                frame-*) kind='\003' ;; *) kind='\004' ;;
            esac
            { printf "$kind"; cat "$f"; } > "$corpus/seed-$(basename "$f")"
        done ;;
    fuzz_picture_name) cp tests/data/store/names/*.txt "$corpus/" ;;
    fuzz_config_ini) cp tests/data/app/config/*.ini "$corpus/" ;;
    fuzz_printer_ini) cp tests/data/labelprinter/printer/*.ini tests/data/labelprinter/*.ini "$corpus/" ;;
    fuzz_tspl_quoting) cp tests/data/labelprinter/printer/*.ini "$corpus/" ;;
    esac
}

pids=""
for target in $targets; do
    build_target "$target" &
    pids="$pids $!"
done
for pid in $pids; do
    wait "$pid"
done

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

# run TARGET: one bounded run; the summary goes to $out/TARGET.result.
run() {
    target="$1"
    seed "$target"
    # Each target runs in a folder of its own: some write their input there.
    mkdir -p "$out/work-$target"
    if (cd "$out/work-$target" && exec "$top/$out/$target" "$top/$out/corpus-$target" -max_total_time="$seconds" \
            -max_len=4096 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$top/$out/$target-" -print_final_stats=1) \
            2>"$out/$target.log"; then
        echo "$target ok: $(grep -E 'stat::number_of_executed_units' "$out/$target.log" | tail -1)" >"$out/$target.result"
    else
        echo "$target FAILED: see $out/$target.log" >"$out/$target.result"
        tail -40 "$out/$target.log" >>"$out/$target.result"
        return 1
    fi
}

status=0
running=0
pids=""
for target in $targets; do
    echo "== $target for ${seconds}s"
    run "$target" &
    pids="$pids $!"
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        for pid in $pids; do
            wait "$pid" || status=1
        done
        pids=""
        running=0
    fi
done
for pid in $pids; do
    wait "$pid" || status=1
done
for target in $targets; do
    cat "$out/$target.result"
done
[ "$status" -eq 0 ] || echo "fuzz.sh: a target found a fault" >&2
exit $status
