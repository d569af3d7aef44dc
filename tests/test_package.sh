#!/usr/bin/env bash
# Builds the Debian package with cpack, unpacks it into a scratch root and
# runs the programs from there, the way a user gets them after installing.
# Usage: test_package.sh BUILD_DIR [CPACK]
set -euo pipefail

build_dir=$(cd "$1" && pwd)
cpack=${2:-cpack}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")

scratch=$(mktemp -d)
testbed_pid=
cleanup() {
    if [[ -n "$testbed_pid" ]]; then
        kill -KILL "$testbed_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

build_package() {
    if ! (cd "$scratch" && "$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" \
        -B "$scratch/out") >"$scratch/cpack.log" 2>&1; then
        cat "$scratch/cpack.log" >&2
        fail "cpack could not build the package"
    fi
    local debs=("$scratch"/out/*.deb)
    [[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || fail "expected one .deb, got: ${debs[*]}"
    deb=${debs[0]}
}

check_control_fields() {
    [[ $(dpkg-deb -f "$deb" Package) == rfgen ]] || fail "package name"
    [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for needed in libqt5core5a libqt5gui5 libqt5widgets5 libqt5network5 libqt5serialport5 \
        libumockdev0 umockdev; do
        grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
    done
}

check_files() {
    for file in usr/bin/rfpanel usr/bin/rfgen usr/bin/rfgen-testbed \
        usr/share/applications/rfpanel.desktop \
        usr/share/icons/hicolor/scalable/apps/rfpanel.svg; do
        [[ -f "$root/$file" ]] || fail "$file is not in the package"
    done
    library=$(find "$root/usr/lib" -name 'librfgendev.so.*' -type f)
    [[ -n "$library" ]] || fail "librfgendev is not in the package"
    grep -q '^Categories=Science;Electronics;$' "$root/usr/share/applications/rfpanel.desktop" ||
        fail "desktop entry categories"
}

# Each program must load the device library from the unpacked root, found
# through its RUNPATH, not from the build tree.
check_library_found_in_root() {
    for program in rfpanel rfgen rfgen-testbed; do
        local resolved
        resolved=$(env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$program" |
            sed -n 's/^\s*librfgendev\.so\.[0-9]* => \(\S*\) .*/\1/p')
        [[ "$(realpath "$resolved")" == "$(realpath "$library")" ]] ||
            fail "$program loads librfgendev from '$resolved', not from the package"
    done
}

check_rfgen_version() {
    local output
    output=$(env -u LD_LIBRARY_PATH "$root/usr/bin/rfgen" --version)
    [[ "$output" == "rfgen $version" ]] || fail "rfgen --version printed '$output'"
}

# The process has installed its own SIGTERM handler (bit 15 of SigCgt).
catches_sigterm() {
    local mask
    mask=$(sed -n 's/^SigCgt:\s*//p' "/proc/$1/status" 2>/dev/null) || return 1
    [[ -n "$mask" ]] && (((0x$mask >> (15 - 1)) & 1))
}

wait_for() {
    local tries=$1
    shift
    for ((i = 0; i < tries; ++i)); do
        "$@" >/dev/null && return 0
        sleep 0.1
    done
    return 1
}

panel_pid() {
    pgrep -P "$testbed_pid" -x rfpanel
}

# The panel from the package, with a simulated instrument from the package's
# testbed, starts and ends in order on SIGTERM.
check_panel_starts_and_stops() {
    mkdir -p "$scratch/home"
    (cd "$scratch/home" && exec env -u LD_LIBRARY_PATH HOME="$scratch/home" \
        XDG_CONFIG_HOME="$scratch/home/.config" QT_QPA_PLATFORM=offscreen \
        "$root/usr/bin/rfgen-testbed" --model orvex -- "$root/usr/bin/rfpanel") \
        >"$scratch/panel.log" 2>&1 &
    testbed_pid=$!
    local pid=
    wait_for 100 panel_pid || fail "rfpanel did not start: $(cat "$scratch/panel.log")"
    pid=$(panel_pid)
    wait_for 100 catches_sigterm "$pid" || fail "rfpanel did not set up its SIGTERM handling"
    sleep 1 # let the window come up and the event loop run
    kill -0 "$pid" 2>/dev/null || fail "rfpanel ended by itself: $(cat "$scratch/panel.log")"
    kill -TERM "$pid"
    wait_for 100 eval '! kill -0 "$testbed_pid" 2>/dev/null' || fail "rfpanel did not end on SIGTERM"
    local status=0
    wait "$testbed_pid" || status=$?
    testbed_pid=
    [[ $status -eq 0 ]] || fail "rfpanel exited with $status: $(cat "$scratch/panel.log")"
    # An orderly exit writes the settings file into the working directory.
    [[ -s "$scratch/home/settings.txt" ]] || fail "rfpanel wrote no settings.txt on SIGTERM"
}

build_package
check_control_fields
root="$scratch/root"
dpkg -x "$deb" "$root"
check_files
check_library_found_in_root
check_rfgen_version
check_panel_starts_and_stops
echo "package $(basename "$deb") installs and runs"
