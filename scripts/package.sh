#!/usr/bin/env bash
# Builds the Debian binary package "ztctl" with CPack and prints the path of the .deb.
#
#   scripts/package.sh [--build-dir DIR] [--output-dir DIR] [--no-build]
#
# A build directory that does not exist yet (default build-package) is configured for
# packaging: prefix /usr, optimised with debug information (stripped in the package), no
# tests and no benchmarks. An existing one is used as it is configured; it must have the
# prefix /usr. --no-build packages what DIR has built already. The package goes to
# DIR/package unless --output-dir says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-package
out_dir=
build=yes
usage() { echo "usage: $0 [--build-dir DIR] [--output-dir DIR] [--no-build]" >&2; exit 2; }
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) [ $# -ge 2 ] || usage; build_dir=$2; shift ;;
        --output-dir) [ $# -ge 2 ] || usage; out_dir=$2; shift ;;
        --no-build) build=no ;;
        *) usage ;;
    esac
    shift
done
out_dir=${out_dir:-$build_dir/package}

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF -DZT_BUILD_BENCHMARKS=OFF >/dev/null
fi
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build_dir/CMakeCache.txt")
if [ "$prefix" != /usr ]; then
    echo "package.sh: $build_dir is configured for the prefix '$prefix'; a package needs /usr" >&2
    exit 1
fi
if [ "$build" = yes ]; then
    cmake --build "$build_dir" >/dev/null
fi

mkdir -p "$out_dir"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$out_dir" >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
# CPack's last line: "CPack: - package: /path/ztctl_0.1.0_amd64.deb generated."
deb=$(sed -nE 's/^CPack: - package: (.*\.deb) generated\.$/\1/p' "$log")
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
    cat "$log" >&2
    echo "package.sh: CPack named no package" >&2
    exit 1
fi
echo "$deb"
