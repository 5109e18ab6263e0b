#!/bin/sh
# Installs the Debian packages that building, testing and running need.
# Only what is missing is installed; the package index is refreshed once,
# and only when something has to be installed.
set -eu

PACKAGES="
cmake g++ make pkg-config
qtbase5-dev libqt5opengl5-dev qtmultimedia5-dev libqt5multimedia5-plugins
libqt5charts5-dev libqt5sql5-sqlite qttools5-dev-tools qttools5-dev
libavcodec-dev libavutil-dev libavformat-dev libswscale-dev libswresample-dev
libjsoncpp-dev libssl-dev libqrencode-dev libpng-dev
libjpeg62-turbo-dev
libgtest-dev libgmock-dev libbenchmark-dev
xvfb xauth libgl1-mesa-dri ffmpeg sqlite3 clang-14 libclang-rt-14-dev
imagemagick xdotool zbar-tools pulseaudio librsvg2-bin
dpkg-dev lintian desktop-file-utils appstream help2man
postgresql libpq-dev
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "installing:$missing"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -q --no-install-recommends $missing
fi
