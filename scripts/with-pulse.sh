#!/bin/sh
# Runs a command against a private PulseAudio server whose only sink is a
# null sink, and stops the server afterwards. The command finds the server
# through PULSE_SERVER; the server's socket, state and log live in a folder
# of their own, so parallel runs never meet.
#   scripts/with-pulse.sh ./program args
#   scripts/with-pulse.sh scripts/with-xvfb.sh ./program args
# Exit code: the command's, or 77 when no server could be started (register
# tests that use it with the ctest property SKIP_RETURN_CODE 77).
set -u
if [ $# -eq 0 ]; then
    echo "usage: with-pulse.sh COMMAND [ARGUMENT...]" >&2
    exit 2
fi
if ! command -v pulseaudio >/dev/null 2>&1; then
    echo "with-pulse: pulseaudio is not installed" >&2
    exit 77
fi

workdir="$(mktemp -d "${TMPDIR:-/tmp}/with-pulse.XXXXXX")"
socket="$workdir/native"
mkdir -p "$workdir/runtime" "$workdir/state"
chmod 700 "$workdir" "$workdir/runtime" "$workdir/state"

# No pid file and a home of its own: a server that is already running (the
# user's, or another run's) is neither found nor disturbed.
HOME="$workdir" XDG_RUNTIME_DIR="$workdir/runtime" PULSE_RUNTIME_PATH="$workdir/runtime" \
    PULSE_STATE_PATH="$workdir/state" \
    pulseaudio -n --daemonize=no --use-pid-file=no --exit-idle-time=-1 --disallow-exit \
    --log-target=stderr -L "module-null-sink sink_name=nullsink" \
    -L "module-native-protocol-unix socket=$socket auth-anonymous=1" \
    >"$workdir/pulse.log" 2>&1 &
pulse_pid=$!

stop_server() {
    kill "$pulse_pid" 2>/dev/null
    wait "$pulse_pid" 2>/dev/null
    rm -rf "$workdir"
}
trap 'stop_server; exit 143' TERM
trap 'stop_server; exit 130' INT

# The socket appears once the modules are loaded; give up after 10 s.
tries=0
while [ ! -S "$socket" ] && [ "$tries" -lt 100 ] && kill -0 "$pulse_pid" 2>/dev/null; do
    sleep 0.1
    tries=$((tries + 1))
done
if [ ! -S "$socket" ]; then
    echo "with-pulse: pulseaudio did not start" >&2
    cat "$workdir/pulse.log" >&2
    stop_server
    exit 77
fi

PULSE_SERVER="unix:$socket" "$@"
rc=$?
stop_server
exit $rc
