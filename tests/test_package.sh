#!/usr/bin/env bash
# Builds the Debian package with cpack, checks it with lintian, unpacks it into
# a scratch root and runs its programs from there, as a user gets them.
# Usage: test_package.sh BUILD_DIR [CPACK]
set -euo pipefail

build_dir=$(cd "$1" && pwd)
cpack=${2:-cpack}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
fail() { echo "FAIL: $*" >&2 && exit 1; }

(cd "$scratch" && "$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/out") \
    >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(echo "$scratch"/out/*.deb)
[[ -f $deb ]] || fail "expected one .deb, got: $deb"

[[ $(dpkg-deb -f "$deb" Package Version) == $'Package: rfgen\nVersion: '$version ]] || fail "control"
lint=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $lint"
names() { grep -Eq "(^|, )$2( |,|$)" <<<"$(dpkg-deb -f "$deb" "$1")"; }
for needed in libqt5widgets5 libqt5network5 libqt5serialport5 libumockdev0; do
    names Depends $needed || fail "Depends lacks $needed"
done
# Only the testbed runs umockdev-wrapper.
! names Depends umockdev && names Recommends umockdev || fail "umockdev not recommended"

dpkg -x "$deb" "$root"
rules=usr/lib/udev/rules.d/70-rfgen.rules
for file in usr/bin/rfpanel usr/bin/rfgen usr/bin/rfgen-testbed $rules \
    usr/share/applications/rfpanel.desktop usr/share/icons/hicolor/scalable/apps/rfpanel.svg; do
    [[ -f $root/$file ]] || fail "$file is not in the package"
done
[[ $(zcat "$root/usr/share/doc/rfgen/changelog.gz") == "rfgen ($version) "* ]] || fail "changelog"
library=$(find "$root/usr/lib" -path '*/rfgen/librfgendev.so' | grep .) || fail "no private library"

# Rules giving a port to the logged-in user and dialout read VENDOR:PRODUCT, others as they are.
matched=$(sed -E '/^(#|$)/d; /^SUBSYSTEM=="tty", .*GROUP="dialout".*TAG\+="uaccess"/'\
's/.*ATTRS\{idVendor\}=="(\w+)".*ATTRS\{idProduct\}=="(\w+)".*/\1:\2/' "$root/$rules" | paste -sd ' ')
[[ $matched == "1209:0001 1209:0002 1209:0003" ]] || fail "udev rules match: $matched"

# Every program loads the device library from the unpacked root (its RUNPATH),
# not from the build tree, and nothing it needs is missing.
for program in rfpanel rfgen rfgen-testbed; do
    libs=$(env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$program")
    ! grep -q "not found" <<<"$libs" || fail "$program misses a library: $libs"
    resolved=$(sed -n 's/^\s*librfgendev\.so => \(\S*\) .*/\1/p' <<<"$libs")
    [[ $(realpath "$resolved") == $(realpath "$library") ]] ||
        fail "$program loads librfgendev from '$resolved', not from the package"
done
[[ $(env -u LD_LIBRARY_PATH "$root/usr/bin/rfgen" --version) == "rfgen $version" ]] || fail "--version"

# The packaged testbed plugs in a simulated instrument that the packaged rfgen finds.
output=$(env -u LD_LIBRARY_PATH "$root/usr/bin/rfgen-testbed" --model pylar --silent 1 -- \
    "$root/usr/bin/rfgen" list 2>"$scratch/list.log") || fail "rfgen list: $(cat "$scratch/list.log")"
grep -Eq $'^ttyACM[0-9]+\tPylar\tPYLAR,' <<<"$output" || fail "rfgen list printed: $output"
[[ $(wc -l <<<"$output") -eq 2 ]] || fail "rfgen list should show two ports: $output"
echo "package $(basename "$deb") installs and runs"
