#!/bin/bash
# Cross-builds the two libraries (Tagwright, Fixlink), the printer stand-ins
# and their tests for 64-bit Windows with mingw-w64 and runs the tests under
# wine64. The alarm-client tests talk to alarm peers built for Linux on
# loopback addresses of their own.
#
#   scripts/windows.sh [CTEST-ARGS…]
#
# Not part of CI: it fetches Debian source packages (JsonCpp, libqrencode,
# libpng) the first time. Folders: build-win-deps/ (sources, target
# libraries), build-win/ (the Windows build), build-win-peer/ (the Linux
# alarm peer), build-win-run/ (wine prefix, peer logs).
# Everything it starts (wine server, peers) is ended when it exits; the whole
# run is bounded by ARDENIX_WIN_TIMEOUT seconds (default 2400).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ -z "${ARDENIX_WIN_BOUNDED:-}" ]; then
    export ARDENIX_WIN_BOUNDED=1
    # A process group of its own, so that the time limit ends everything.
    exec timeout --kill-after=30 "${ARDENIX_WIN_TIMEOUT:-2400}" "$0" "$@"
fi

mingw=x86_64-w64-mingw32
deps=$root/build-win-deps
prefix=$deps/prefix
build=$root/build-win
peerbuild=$root/build-win-peer
run=$root/build-win-run
jobs=$(nproc)

# --- packages --------------------------------------------------------------
PACKAGES="
cmake make pkg-config g++ libssl-dev dpkg-dev xz-utils bzip2
mingw-w64 g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 googletest zbar-tools
"
missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    echo "== installing:$missing"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -q --no-install-recommends $missing
fi

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64)
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

# --- sources of the libraries Debian ships no mingw build of ---------------
# Fetched with a private apt configuration (a deb-src line of our own), so
# the machine's sources stay as they are.
fetch_sources() {
    local apt=$deps/apt
    mkdir -p "$apt/lists/partial" "$apt/parts" "$apt/cache/archives/partial" "$deps/src"
    printf 'deb-src http://deb.debian.org/debian bookworm main\n' >"$apt/sources.list"
    local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")
    if ! ls "$apt/lists/"*Sources* >/dev/null 2>&1; then
        apt-get -q "${opts[@]}" update
    fi
    # Source package names: JsonCpp's is libjsoncpp.
    (cd "$deps/src" && apt-get -q "${opts[@]}" source --download-only "$@") || true
}

# Unpacks a source package with its Debian patches, or its upstream tarball
# alone when the Debian part could not be had (said in the output).
unpack() {
    local name=$1 dir=$2
    [ -d "$deps/src/$dir" ] && return 0
    local dsc
    dsc=$(ls "$deps/src/${name}"_*.dsc 2>/dev/null | head -n1 || true)
    if [ -n "$dsc" ] && (cd "$deps/src" && dpkg-source -x --no-check "$(basename "$dsc")" "$dir" >/dev/null 2>&1); then
        return 0
    fi
    local orig
    orig=$(ls "$deps/src/${name}"_*.orig.tar.* 2>/dev/null | head -n1 || true)
    if [ -z "$orig" ]; then
        echo "windows.sh: no source of $name could be fetched" >&2
        return 1
    fi
    echo "== $name: the Debian patches could not be fetched; building the upstream source alone"
    mkdir -p "$deps/src/$dir"
    tar -xf "$orig" -C "$deps/src/$dir" --strip-components=1
}

cross_build() {
    local dir=$1
    shift
    if [ -f "$deps/build/$dir/.installed" ]; then
        return 0
    fi
    echo "== building $dir for Windows"
    cmake -S "$deps/src/$dir" -B "$deps/build/$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DARDENIX_WIN_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CROSSCOMPILING_EMULATOR= "$@" >"$deps/build-$dir.log" 2>&1 \
        && cmake --build "$deps/build/$dir" -j"$jobs" >>"$deps/build-$dir.log" 2>&1 \
        && cmake --install "$deps/build/$dir" >>"$deps/build-$dir.log" 2>&1 \
        || { tail -n 30 "$deps/build-$dir.log" >&2; return 1; }
    touch "$deps/build/$dir/.installed"
}

if [ ! -f "$deps/build/libpng/.installed" ] || [ ! -f "$deps/build/jsoncpp/.installed" ] \
    || [ ! -f "$deps/build/qrencode/.installed" ]; then
    fetch_sources libjsoncpp qrencode libpng1.6
fi
unpack libjsoncpp jsoncpp
unpack qrencode qrencode
unpack libpng1.6 libpng
# GoogleTest from Debian's own sources (package googletest).
[ -e "$deps/src/googletest-src" ] || ln -s /usr/src/googletest "$deps/src/googletest-src"
cross_build googletest-src -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON
cross_build jsoncpp -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
    -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=OFF
cross_build qrencode -DBUILD_SHARED_LIBS=OFF -DWITH_TOOLS=OFF -DWITH_TESTS=OFF -DWITHOUT_PNG=ON
cross_build libpng -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DPNG_HARDWARE_OPTIMIZATIONS=OFF -Dld-version-script=OFF

# --- the Windows build ------------------------------------------------------
echo "== configuring build-win"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DARDENIX_WIN_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DARDENIX_COMPONENTS="standins/printers;alarmclient;labelprinter;tests/alarmclient;tests/labelprinter" >/dev/null
echo "== building build-win"
cmake --build "$build" -j"$jobs"

# --- the Linux alarm peer ---------------------------------------------------
echo "== building the alarm peer for Linux (build-win-peer)"
cmake -S "$root" -B "$peerbuild" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARDENIX_COMPONENTS="simulator/alarmpeer" >/dev/null
cmake --build "$peerbuild" -j"$jobs" --target alarmpeer-server

# --- run --------------------------------------------------------------------
mkdir -p "$run"
export WINEPREFIX=$run/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="/usr/lib/gcc/$mingw/12-posix;/usr/$mingw/lib;$build/bin;$build/lib"
peer_pids=()
cleanup() {
    local pid
    for pid in "${peer_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${peer_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    "$wineserver" -k 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# One server for the whole run keeps each test's start short; the first
# start fills the prefix.
mkdir -p "$WINEPREFIX"
"$wineserver" -p 60
"$wine" cmd /c exit >/dev/null 2>&1 || true

# Peers: each on a loopback address of its own, for at most the run's time.
# start_peer VARIABLE NAME ADDRESS [OPTION…] sets VARIABLE to "address:port".
start_peer() {
    local variable=$1 name=$2 address=$3
    shift 3
    local log=$run/peer-$name.log
    : >"$log"
    "$peerbuild/bin/alarmpeer-server" --address "$address" --seconds 1500 "$@" >"$log" 2>&1 &
    peer_pids+=($!)
    local i port=""
    for i in $(seq 1 50); do
        port=$(sed -n 's/^login-port \([0-9]*\)$/\1/p' "$log")
        [ -n "$port" ] && break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        echo "windows.sh: the $name peer did not start" >&2
        cat "$log" >&2
        exit 1
    fi
    printf -v "$variable" '%s' "$address:$port"
}
start_peer FIXLINK_PEER normal 127.0.3.1 --alarms --key-change-ms 1500
start_peer FIXLINK_PEER_DENY deny 127.0.3.2 --deny
start_peer FIXLINK_PEER_REFUSE refuse 127.0.3.3 --refuse
start_peer FIXLINK_PEER_REJECT reject 127.0.3.4 --reject-auth
export FIXLINK_PEER FIXLINK_PEER_DENY FIXLINK_PEER_REFUSE FIXLINK_PEER_REJECT

echo "== running the tests under wine64"
status=0
(cd "$build" && ctest --output-on-failure -j2 --timeout 600 "$@") || status=1
exit $status
