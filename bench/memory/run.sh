#!/bin/sh
# Memory: the real ardenix --connect against camsim with a person every
# second. After MEMORY_FILL_SECONDS (default 120; the list of 30 cards is full
# long before) the program's resident memory is sampled every 2 s for
# MEMORY_STEADY_SECONDS (default 60); the median of those samples is the
# steady RSS. The reference is the same run against a camera without an
# alarm service (camsim --no-alarms): no pictures, no cards. Both runs go at
# once, first on the offscreen platform, then each under an Xvfb of its own.
# Prints one line per platform:
#   BENCH memory ratio=<steady/reference steady> ours=<MB> reference=<MB> peak=<MB> reference_peak=<MB>
#         platform=offscreen|xvfb alarms=<cards built> goal=<MB> goals=met|missed
# Goals: offscreen steady <= 150 MB with ratio <= 1.4; under Xvfb <= 260 MB.
#   MEMORY_PLATFORMS="offscreen xvfb" (default both) picks the platforms.
set -eu
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${ARDENIX_BUILD_DIR:-$root/build-bench}"
[ -x "$build/bin/ardenix" ] && [ -x "$build/bin/camsim" ] || cmake --build "$build" -j2 --target ardenix camsim >/dev/null
fill="${MEMORY_FILL_SECONDS:-120}"
steady="${MEMORY_STEADY_SECONDS:-60}"
platforms="${MEMORY_PLATFORMS:-offscreen xvfb}"
work="$(mktemp -d /tmp/ardenix-memory.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# run NAME PLATFORM ADDRESS ID CAMSIM-OPTION...: one program against one
# camera; writes "peak_kib steady_kib cards" to $work/NAME.result.
run() {
    name=$1 platform=$2 address=$3 id=$4
    shift 4
    dir="$work/$name"
    mkdir -p "$dir/data"
    limit=$((fill + steady + 60))
    timeout -k 5 "$limit" "$build/bin/camsim" --address "$address" --first-id "$id" --search-port -1 --bitrate 0 \
        --people-per-minute 60 "$@" 2>"$dir/camsim.log" &
    camsim=$!
    sleep 2
    if [ "$platform" = xvfb ]; then
        wrapper="$root/scripts/with-xvfb.sh"
        unset QT_QPA_PLATFORM
    else
        wrapper=env
        export QT_QPA_PLATFORM=offscreen
    fi
    # The id of the timeout that runs the program is written down, so that
    # the program (its child) is sampled and stopped through it and nothing
    # else; the timeout ends it should this script be stopped.
    (cd "$dir" && ARDENIX_DB="$dir/ardenix.dat" ARDENIX_SNAPSHOT_DIR="$dir/shots" XDG_DATA_HOME="$dir/data" \
        XDG_CONFIG_HOME="$dir/data" KVSDK_SEARCH_TARGETS="$address" LP_NUM_THREADS=0 \
        "$wrapper" sh -c 'echo $$ >"$0"; exec "$@"' "$dir/pid" timeout -k 5 "$limit" \
        "$build/bin/ardenix" --connect "$address" --id "$id" >"$dir/ardenix.log" 2>&1) &
    outer=$!
    pid=""
    tries=0
    while [ -z "$pid" ] && [ "$tries" -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
        [ -s "$dir/pid" ] || continue
        parent="$(cat "$dir/pid")"
        pid="$(cut -d' ' -f1 "/proc/$parent/task/$parent/children" 2>/dev/null || true)"
    done
    [ -n "$pid" ] || { echo "memory: ardenix did not start ($name)" >&2; kill "$camsim"; return 1; }
    sleep "$fill"
    : >"$dir/samples"
    elapsed=0
    while [ "$elapsed" -lt "$steady" ]; do
        awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" >>"$dir/samples" 2>/dev/null || break
        sleep 2
        elapsed=$((elapsed + 2))
    done
    peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    kill "$pid" 2>/dev/null || true
    kill "$camsim" 2>/dev/null || true
    wait "$outer" 2>/dev/null || true
    wait "$camsim" 2>/dev/null || true
    middle=$(sort -n "$dir/samples" | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : 0) }')
    cards=$(grep -c 'addAlarmpush' "$dir/ardenix.log" || true)
    echo "${peak:-0} $middle $((cards / 2))" >"$dir.result"
    rm -rf "$dir/shots"
}

mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

status=0
for platform in $platforms; do
    case "$platform" in offscreen) goal=150 ;; xvfb) goal=260 ;; *) echo "memory: no platform $platform" >&2; exit 2 ;; esac
    echo "memory: $platform, ${fill}s to fill the list, ${steady}s sampled" >&2
    run "$platform-alarms" "$platform" 127.0.80.70 71 &
    first=$!
    run "$platform-reference" "$platform" 127.0.80.72 73 --no-alarms &
    second=$!
    wait "$first" || status=1
    wait "$second" || status=1
    [ -s "$work/$platform-alarms.result" ] && [ -s "$work/$platform-reference.result" ] || { status=1; continue; }
    read -r peak ours cards <"$work/$platform-alarms.result"
    read -r reference_peak reference _ <"$work/$platform-reference.result"
    ratio=$(awk -v a="$ours" -v b="$reference" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
    met=$(awk -v a="$ours" -v r="$ratio" -v g="$goal" -v p="$platform" \
        'BEGIN { print ((a / 1024 <= g && (p != "offscreen" || r <= 1.4)) ? "met" : "missed") }')
    echo "BENCH memory ratio=$ratio ours=$(mb "$ours")MB reference=$(mb "$reference")MB peak=$(mb "$peak")MB" \
        "reference_peak=$(mb "$reference_peak")MB platform=$platform alarms=$cards goal=${goal}MB goals=$met"
done
exit $status
