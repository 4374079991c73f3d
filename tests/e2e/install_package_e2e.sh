#!/usr/bin/env bash
# Builds the Debian package, checks what it declares, installs it into a throw-away root with
# dpkg, runs the installed studio long enough to print its pairing link, and removes it again
# without leftovers.
#   install_package_e2e.sh <build-folder>
set -euo pipefail
. "$(dirname "$0")/studio_process.sh"
build=$1
work=$(mktemp -d /tmp/pelorin-package.XXXXXX)
studio_pid=""
cleanup() {
    [ -n "$studio_pid" ] && kill -KILL "$studio_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install_package_e2e: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/package/pelorin-studio_*.deb)

# Every library package dpkg-shlibdeps finds for the binaries is declared.
mkdir -p "$work/extracted" "$work/shlibs/debian"
dpkg-deb -x "$deb" "$work/extracted"
printf 'Source: pelorin-studio\n\nPackage: pelorin-studio\nArchitecture: any\n' \
    >"$work/shlibs/debian/control"
needed=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$work"/extracted/usr/bin/* 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p' | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort -u)
declared=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort -u)
for package in $needed; do
    grep -qx "$package" <<<"$declared" || fail "the package does not depend on $package"
done
for package in colmap libqt6svg6 xdg-utils qml6-module-quick3d qml6-module-qtquick-controls; do
    grep -qx "$package" <<<"$declared" || fail "the package does not depend on $package"
done

root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg could not install the package"; }

desktop-file-validate "$root/usr/share/applications/org.pelorin.Studio.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.pelorin.Studio.metainfo.xml" >/dev/null
[ -f "$root/usr/share/icons/hicolor/scalable/apps/org.pelorin.Studio.svg" ] || fail "no SVG icon"
[ -f "$root/usr/share/icons/hicolor/256x256/apps/org.pelorin.Studio.png" ] || fail "no PNG icon"
[ -d "$root/usr/share/pelorin-studio/Sample Photos Statue" ] || fail "no sample set"
for tool in pelorin-studio pelorin-phone pelorin-reconstruct pelorin-convert; do
    [ -x "$root/usr/bin/$tool" ] || fail "no $tool"
done

PELORIN_STUDIO_HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
    "$root/usr/bin/pelorin-studio" --no-window >"$work/studio.log" 2>&1 &
studio_pid=$!
wait_for_pairing_link "$work/studio.log" || true
grep -q '^pairing link: pelorin3d://' "$work/studio.log" ||
    { cat "$work/studio.log"; fail "the installed studio printed no pairing link"; }
kill -TERM "$studio_pid"
wait "$studio_pid" || fail "the installed studio did not end cleanly"
studio_pid=""

dpkg --root="$root" --force-depends --force-script-chrootless -r pelorin-studio >>"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg could not remove the package"; }
left=$( (find "$root/usr" -type f 2>/dev/null || true) | head -5)
[ -z "$left" ] || fail "files left after removal: $left"
echo "install_package_e2e: the package installs, runs and goes"
