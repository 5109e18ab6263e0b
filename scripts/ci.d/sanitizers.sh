#!/bin/sh
# Runs the tests again under AddressSanitizer+UBSan (with leak checks) and
# under ThreadSanitizer, in separate build folders. The long end-to-end runs
# of the real program (label e2e) are left to scripts/sanitize.sh by hand,
# which keeps CI within its time.
set -eu
cd "$(dirname "$0")/../.."
ARDENIX_BUILD_TAG=ci scripts/sanitize.sh asan -- -LE e2e
ARDENIX_BUILD_TAG=ci scripts/sanitize.sh tsan -- -LE e2e
