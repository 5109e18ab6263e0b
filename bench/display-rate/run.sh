#!/bin/sh
# Runs the display-rate benchmark on a private Xvfb server.
set -eu
root="${ARDENIX_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}"
build="${ARDENIX_BUILD_DIR:-$root/build}"
exec "$root/scripts/with-xvfb.sh" "$build/bench/bench-display-rate" "$@"
