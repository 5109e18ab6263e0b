#!/bin/sh
# Runs a command against a private Xvfb server and stops the server afterwards.
# Xvfb picks a free display itself (-displayfd), so parallel test runs never
# race for a display number the way `xvfb-run -a` can.
#   XVFB_SCREEN=1440x900x24 scripts/with-xvfb.sh ./program args
set -u
screen="${XVFB_SCREEN:-1920x1080x24}"

if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR="$(mktemp -d)"
    export XDG_RUNTIME_DIR
fi
chmod 700 "$XDG_RUNTIME_DIR" 2>/dev/null || true

workdir="$(mktemp -d)"
mkfifo "$workdir/displayfd"
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset 3>"$workdir/displayfd" 2>"$workdir/xvfb.log" &
xvfb_pid=$!

display=""
# The read ends when Xvfb writes its display number or exits.
read -r display <"$workdir/displayfd" || true
if [ -z "$display" ]; then
    echo "with-xvfb: Xvfb did not start" >&2
    cat "$workdir/xvfb.log" >&2
    kill "$xvfb_pid" 2>/dev/null
    rm -rf "$workdir"
    exit 1
fi

DISPLAY=":$display" "$@"
rc=$?
kill "$xvfb_pid" 2>/dev/null
wait "$xvfb_pid" 2>/dev/null
rm -rf "$workdir"
exit $rc
