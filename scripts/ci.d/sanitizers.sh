#!/bin/sh
# Runs every test again under AddressSanitizer+UBSan and under ThreadSanitizer
# (separate build folders; a few minutes each on two cores).
set -eu
cd "$(dirname "$0")/../.."
ARDENIX_BUILD_TAG=ci scripts/sanitize.sh asan
ARDENIX_BUILD_TAG=ci scripts/sanitize.sh tsan
