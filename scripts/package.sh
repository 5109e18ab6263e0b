#!/bin/sh
# Builds the Debian package ardenix_<version>_amd64.deb with CPack.
#   scripts/package.sh [BUILD_DIR]     (default: build)
# Configures BUILD_DIR when needed, builds only what the package holds and
# leaves the package in BUILD_DIR.
set -eu
cd "$(dirname "$0")/.."
dir="${1:-build}"

scripts/deps.sh
[ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake -S . -B "$dir" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target ardenix ardenix-report camsim camctl fixlink-cli tagwright-cli \
    Fixlink Tagwright KV_DeviceLogin KV_DevicePreview KV_DeviceNVConfig KvDevice CamSearch ACodec mi_decoder \
    TSCLIB CDFPSK ardenix_media ardenix_device ardenix_package_docs

(cd "$dir" && cpack -G DEB -C RelWithDebInfo)
ls "$dir"/ardenix_*_amd64.deb
