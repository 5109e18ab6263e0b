#!/bin/sh
# Builds the Debian package from build/ (already built by the tests) and
# checks its contents, Debian's own checks on it (lintian takes about 5 s), a
# run by an ordinary user and dpkg -i/-r (about a minute).
set -eu
cd "$(dirname "$0")/../.."
scripts/package.sh build >build/package.log 2>&1 || { cat build/package.log; exit 1; }
for deb in build/ardenix_*_amd64.deb; do
    sh tests/package/test_package.sh "$deb" >build/package-test.log 2>&1 || { cat build/package-test.log; exit 1; }
    grep -E '^(ok|skip)' build/package-test.log
done
