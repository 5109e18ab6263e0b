#!/bin/sh
# Soak run: ardenix --connect against camsim with a person every second for
# MINUTES (default 30), every camera connection (the alarm service with it)
# dropped every three minutes. Samples the program's resident memory, open
# descriptors and threads every 10 s and prints
#   BENCH soak ratio=<RSS at the end / RSS after 2 minutes> rss_start=.. ...
# Not part of CI. Uses the build in $ARDENIX_BUILD_DIR (default build/);
# runs under an Xvfb of its own when DISPLAY is unset.
#   scripts/soak.sh [MINUTES]
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ -z "${DISPLAY:-}" ]; then
    exec "$root/scripts/with-xvfb.sh" "$0" "$@"
fi
minutes="${1:-30}"
case "$minutes" in '' | *[!0-9]*) echo "soak.sh: MINUTES must be a whole number" >&2; exit 2 ;; esac
[ "$minutes" -ge 3 ] || { echo "soak.sh: at least 3 minutes" >&2; exit 2; }
build="${ARDENIX_BUILD_DIR:-$root/build}"
[ -x "$build/bin/ardenix" ] && [ -x "$build/bin/camsim" ] || cmake --build "$build" -j2 --target ardenix camsim

address=127.0.80.40
id=60
work="$(mktemp -d /tmp/ardenix-soak.XXXXXX)"
mkdir -p "$work/data"
echo "soak: $minutes min, work folder $work" >&2
limit=$((minutes * 60 + 120))

timeout -k 5 "$limit" "$build/bin/camsim" --address "$address" --first-id "$id" --search-port -1 --bitrate 0 \
    --people-per-minute 60 --drop-after 180 2>"$work/camsim.log" &
camsim=$!
sleep 2

cd "$work"
ARDENIX_DB="$work/ardenix.dat" ARDENIX_SNAPSHOT_DIR="$work/shots" XDG_DATA_HOME="$work/data" \
XDG_CONFIG_HOME="$work/data" KVSDK_SEARCH_TARGETS="$address" LP_NUM_THREADS=0 \
    timeout -k 5 "$limit" "$build/bin/ardenix" --connect "$address" --id "$id" >"$work/ardenix.log" 2>&1 &
outer=$!
sleep 1
pid="$(cat /proc/$outer/task/$outer/children 2>/dev/null | cut -d' ' -f1)"
[ -n "$pid" ] || { echo "soak.sh: ardenix did not start" >&2; kill "$camsim"; exit 1; }

sample() {
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
    threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
    fds=$(ls "/proc/$pid/fd" | wc -l)
}
echo "# seconds rss_kib fds threads" >"$work/samples.txt"
elapsed=0
end=$((minutes * 60))
while [ "$elapsed" -lt "$end" ]; do
    sleep 10
    elapsed=$((elapsed + 10))
    kill -0 "$pid" 2>/dev/null || { echo "soak.sh: ardenix ended after $elapsed s" >&2; break; }
    sample
    echo "$elapsed $rss $fds $threads" >>"$work/samples.txt"
    if [ "$elapsed" -eq 120 ]; then
        rss_start=$rss fds_start=$fds threads_start=$threads
    fi
done
rss_end=${rss:-0} fds_end=${fds:-0} threads_end=${threads:-0}

# The camera first; booked pictures are served from held frames.
kill "$camsim" 2>/dev/null || true
wait "$camsim" 2>/dev/null || true
sleep 6
kill "$outer" 2>/dev/null || true
wait "$outer" 2>/dev/null || true

alarms=$(grep -c 'person .* sent to [1-9]' "$work/camsim.log" || true)
counted=$(sqlite3 "$work/ardenix.dat" 'SELECT sum(normalnum) + sum(unusualnum) FROM datecounttb' 2>/dev/null || echo 0)
rows=$(sqlite3 "$work/ardenix.dat" 'SELECT count(*) FROM pictureinfotb' 2>/dev/null || echo 0)
jpegs=$(find "$work/shots/Screenshot" -name '*.jpg' 2>/dev/null | wc -l)
ratio=$(awk -v a="$rss_end" -v b="${rss_start:-0}" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
echo "BENCH soak ratio=$ratio rss_start=${rss_start:-0}KiB rss_end=${rss_end}KiB fds_start=${fds_start:-0} fds_end=$fds_end threads_start=${threads_start:-0} threads_end=$threads_end alarms=$alarms counted=$counted rows=$rows jpegs=$jpegs minutes=$minutes"
echo "soak: samples in $work/samples.txt" >&2
