#!/usr/bin/env bash
# Builds the Debian package with cpack, unpacks it into a scratch root and runs
# its programs from there, the way a user gets them after installing.
# Usage: test_package.sh BUILD_DIR [CPACK]
set -euo pipefail

build_dir=$(cd "$1" && pwd)
cpack=${2:-cpack}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

(cd "$scratch" && "$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/out") \
    >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
debs=("$scratch"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}

[[ $(dpkg-deb -f "$deb" Package) == rfgen ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt5widgets5 libqt5network5 libqt5serialport5 libumockdev0 umockdev; do
    grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

dpkg -x "$deb" "$root"
for file in usr/bin/rfpanel usr/bin/rfgen usr/bin/rfgen-testbed \
    usr/share/applications/rfpanel.desktop usr/share/icons/hicolor/scalable/apps/rfpanel.svg; do
    [[ -f $root/$file ]] || fail "$file is not in the package"
done
library=$(find "$root/usr/lib" -name 'librfgendev.so.*' -type f)
[[ -n $library ]] || fail "librfgendev is not in the package"

# Every program loads the device library from the unpacked root (its RUNPATH),
# not from the build tree, and nothing it needs is missing.
for program in rfpanel rfgen rfgen-testbed; do
    libs=$(env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$program")
    ! grep -q "not found" <<<"$libs" || fail "$program misses a library: $libs"
    resolved=$(sed -n 's/^\s*librfgendev\.so\.[0-9]* => \(\S*\) .*/\1/p' <<<"$libs")
    [[ $(realpath "$resolved") == $(realpath "$library") ]] ||
        fail "$program loads librfgendev from '$resolved', not from the package"
done

output=$(env -u LD_LIBRARY_PATH "$root/usr/bin/rfgen" --version)
[[ $output == "rfgen $version" ]] || fail "rfgen --version printed '$output'"

# The packaged testbed plugs in a simulated instrument that the packaged rfgen finds.
output=$(env -u LD_LIBRARY_PATH "$root/usr/bin/rfgen-testbed" --model pylar --silent 1 -- \
    "$root/usr/bin/rfgen" list 2>"$scratch/list.log") || fail "rfgen list: $(cat "$scratch/list.log")"
grep -Eq $'^ttyACM[0-9]+\tPylar\tPYLAR,' <<<"$output" || fail "rfgen list printed: $output"
[[ $(wc -l <<<"$output") -eq 2 ]] || fail "rfgen list should show two ports: $output"

echo "package $(basename "$deb") installs and runs"
