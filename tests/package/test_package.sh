#!/bin/sh
# Checks the Debian package:
#  1. its contents: programs with their manual pages, private libraries,
#     desktop entry, AppStream data, icons, copyright file and changelog, and
#     dependencies computed from what the binaries link; Debian's own checks
#     (lintian, desktop-file-validate, appstreamcli) find nothing to warn of;
#  2. (as root) the unpacked program run by an ordinary user, without any
#     library path, against the camera simulator on 127.0.76.x under Xvfb:
#     settings, alarm pictures, statistics and log land in that user's data
#     folder and nowhere else;
#  3. (as root, when no ardenix package is installed yet) dpkg -i, the
#     installed programs starting and telling their version, and dpkg -r
#     leaving nothing behind.
#   tests/package/test_package.sh PACKAGE.deb
set -eu
deb="$(readlink -f "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
xvfb="$here/../../scripts/with-xvfb.sh"
seconds="${PACKAGE_TEST_SECONDS:-60}"

fail() {
    echo "FAIL: $*" >&2
    failed=yes
    exit 1
}
# A command that fails without a word under set -e still leaves a line.
failed=""
stopped() {
    [ "$1" -eq 0 ] || [ -n "$failed" ] || echo "FAIL: stopped with status $1 before the end (set -e)" >&2
}
checks="$(mktemp -d)"
trap 'rc=$?; rm -rf "$checks"; stopped "$rc"' EXIT

# 1. Contents.
contents="$(dpkg-deb -c "$deb" | awk '{ print $6 }')"
lib="./usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/ardenix"
metainfo=./usr/share/metainfo/invalid.ardenix.Ardenix.metainfo.xml
for path in \
    ./usr/bin/ardenix ./usr/bin/ardenix-report ./usr/bin/camsim ./usr/bin/camctl ./usr/bin/fixlink-cli \
    ./usr/bin/tagwright-cli $lib/libFixlink.so.1 $lib/libTagwright.so $lib/libKV_DeviceLogin.so \
    $lib/libKV_DevicePreview.so $lib/libKV_DeviceNVConfig.so $lib/libKvDevice.so $lib/libCamSearch.so \
    $lib/libACodec.so $lib/libmi_decoder.so $lib/libTSCLIB.so $lib/libCDFPSK.so $lib/libardenix_media.so \
    $lib/libardenix_device.so ./usr/share/applications/ardenix.desktop $metainfo \
    ./usr/share/icons/hicolor/scalable/apps/ardenix.svg ./usr/share/icons/hicolor/48x48/apps/ardenix.png \
    ./usr/share/icons/hicolor/256x256/apps/ardenix.png ./usr/share/doc/ardenix/copyright \
    ./usr/share/doc/ardenix/changelog.gz ./usr/share/man/man1/ardenix.1.gz ./usr/share/man/man1/ardenix-report.1.gz \
    ./usr/share/man/man1/camsim.1.gz ./usr/share/man/man1/camctl.1.gz ./usr/share/man/man1/fixlink-cli.1.gz \
    ./usr/share/man/man1/tagwright-cli.1.gz; do
    echo "$contents" | grep -qx "$path" || fail "the package lacks $path"
done
outside="$(echo "$contents" | grep -v '^\./usr/' | grep -v '^\./$' || true)"
[ -z "$outside" ] || fail "files outside /usr: $outside"
depends="$(dpkg-deb -f "$deb" Depends)"
for package in libqt5core5a libqt5widgets5 libavcodec59 libjsoncpp25 libqt5sql5-sqlite; do
    echo "$depends" | grep -q "$package" || fail "Depends lacks $package: $depends"
done
echo "$depends" | grep -qi ardenix && fail "Depends names the package's own libraries: $depends"
echo "ok: contents and dependencies"

# Debian's checks: no error and no warning (lintian as root says so on
# standard error; that line is not a finding).
lintian --fail-on error,warning "$deb" >"$checks/lintian.txt" 2>&1 || { cat "$checks/lintian.txt" >&2; fail "lintian"; }
if grep -v 'running with root privileges' "$checks/lintian.txt" >&2; then
    fail "lintian"
fi
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$checks" ./usr/share/applications/ardenix.desktop "$metainfo"
desktop-file-validate "$checks/usr/share/applications/ardenix.desktop" >"$checks/desktop.txt" 2>&1 \
    && [ ! -s "$checks/desktop.txt" ] || { cat "$checks/desktop.txt" >&2; fail "desktop-file-validate"; }
appstreamcli validate --no-net "$checks/$metainfo" >"$checks/appstream.txt" 2>&1 \
    || { cat "$checks/appstream.txt" >&2; fail "appstreamcli validate"; }
echo "ok: lintian, desktop-file-validate and appstreamcli validate find nothing"

if [ "$(id -u)" -ne 0 ]; then
    echo "skip: running as an ordinary user and dpkg -i need root"
    exit 0
fi

# 2. The unpacked program, run by an ordinary user.
user=ardenix-pkgtest
created_user=""
work="$(mktemp -d)"
camsim_pid=""
cleanup() {
    [ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null
    rm -rf "$work"
    [ -n "$created_user" ] && userdel -r "$user" 2>/dev/null
    true
}
trap 'rc=$?; cleanup; rm -rf "$checks"; stopped "$rc"' EXIT INT TERM
if ! id "$user" >/dev/null 2>&1; then
    useradd -m -s /bin/sh "$user"
    created_user=yes
fi
home="$(getent passwd "$user" | cut -d: -f6)"
rm -rf "$home/.local/share/ardenix"
chmod 755 "$work"
dpkg-deb -x "$deb" "$work/root"
# A current folder the user may write: an installed copy still keeps its
# settings out of it.
mkdir "$work/cwd" && chown "$user" "$work/cwd"
touch "$work/marker"
sleep 1

"$work/root/usr/bin/camsim" --address 127.0.76.2 --search-address 127.0.76.1 --first-id 7 \
    --people-per-minute 60 --abnormal-share 0.5 >"$work/camsim.log" 2>&1 &
camsim_pid=$!

data="$home/.local/share/ardenix"
# Xvfb belongs to root; a local client needs no key to reach it.
"$xvfb" sh -c '
    runuser -u "$1" -- env -i HOME="$2" PATH=/usr/bin:/bin DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$2/.runtime" \
        KVSDK_SEARCH_TARGETS=127.0.76.1 sh -c "mkdir -p -m 700 \"\$XDG_RUNTIME_DIR\"; cd \"$3/cwd\" && exec \"$3/root/usr/bin/ardenix\" --connect 127.0.76.2 --id 7" \
        >"$3/stderr.log" 2>&1 &
    i=0
    while [ $i -lt $(($5 * 2)) ] && ! grep -q PreviewFirstFrame "$3/stderr.log" 2>/dev/null; do
        sleep 0.5
        i=$((i + 1))
    done
    # The operator takes a manual snapshot and switches the sound off (which
    # writes the settings file): the buttons of the maximised window on a
    # 1920x1080 screen.
    sleep 1
    xdotool mousemove 98 679 click 1
    sleep 0.5
    xdotool mousemove 245 679 click 1
    while [ $i -lt $(($5 * 2)) ]; do
        if ls "$4"/Screenshot/*/*.jpg "$4"/ManualScreenshot/*/*.jpg >/dev/null 2>&1 && [ -f "$4/Config.ini" ]; then
            break
        fi
        sleep 0.5
        i=$((i + 1))
    done
    pkill -u "$1" -x ardenix
    sleep 1
    pkill -9 -u "$1" -x ardenix
    true' sh "$user" "$home" "$work" "$data" "$seconds"

grep -q PreviewFirstFrame "$work/stderr.log" || { cat "$work/stderr.log" >&2; fail "no live picture from the unpacked program"; }
[ -f "$data/Config.ini" ] || fail "no Config.ini in $data"
ls "$data"/Screenshot/*/*.jpg >/dev/null 2>&1 || fail "no alarm picture in $data/Screenshot"
ls "$data"/ManualScreenshot/*/*.jpg >/dev/null 2>&1 || fail "no manual snapshot in $data/ManualScreenshot"
[ -f "$data/ardenix.dat" ] || fail "no statistics file in $data"
log="$data/ardenix-$(date +%Y-%m-%d).log"
[ -f "$log" ] || fail "no log file $log"
grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} \[[0-9]+[^]]*\] .*PreviewFirstFrame' "$log" \
    || fail "the log lacks a stamped PreviewFirstFrame line"
[ "$(stat -c %a "$log")" = 600 ] || fail "the log file is readable by others: $(stat -c %a "$log")"
[ -z "$(ls -A "$work/cwd")" ] || fail "the program wrote into its current folder: $(ls -A "$work/cwd")"
[ -z "$(find "$work/root" -newer "$work/marker")" ] || fail "the program changed its own folder"
# Files that vanish while find walks the tree (other programs' temporary
# files) make it exit non-zero; only what it prints counts.
elsewhere="$(find / -xdev \( -path /proc -o -path "$home" \) -prune -o -user "$user" -newer "$work/marker" -print 2>/dev/null || true)"
[ -z "$elsewhere" ] || fail "the program wrote outside its user's home: $elsewhere"
"$work/root/usr/bin/ardenix-report" --db "$data/ardenix.dat" pictures | grep -q '^time,camera,' \
    || fail "ardenix-report cannot read the program's statistics"
echo "ok: the unpacked program keeps settings, pictures and log in $data"

# 3. Install and remove.
if dpkg-query -W -f='${Status}' ardenix 2>/dev/null | grep -q "install ok installed"; then
    echo "skip: an ardenix package is installed already; it is left alone"
    exit 0
fi
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; dpkg -r ardenix >/dev/null 2>&1; fail "dpkg -i"; }
status=0
for program in ardenix ardenix-report camctl fixlink-cli tagwright-cli camsim; do
    # Each prints its usage once its libraries are loaded.
    /usr/bin/$program --help >"$work/help.txt" 2>&1 && grep -qi usage "$work/help.txt" || { echo "FAIL: installed $program does not start:" >&2; cat "$work/help.txt" >&2; status=1; }
    [ "$(/usr/bin/$program --version 2>&1)" = "$program $(dpkg-deb -f "$deb" Version)" ] \
        || { echo "FAIL: installed $program --version: $(/usr/bin/$program --version 2>&1)" >&2; status=1; }
done
dpkg -r ardenix >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -r"; }
[ $status -eq 0 ] || exit 1
for path in /usr/bin/ardenix "${lib#.}" /usr/share/applications/ardenix.desktop "${metainfo#.}" \
    /usr/share/icons/hicolor/scalable/apps/ardenix.svg /usr/share/man/man1/ardenix.1.gz /usr/share/doc/ardenix; do
    [ ! -e "$path" ] || fail "$path is left after dpkg -r"
done
echo "ok: dpkg -i, the installed programs start, dpkg -r removes everything"
