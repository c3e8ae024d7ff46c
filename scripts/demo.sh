#!/usr/bin/env bash
# Builds the project and starts ztctld in a throw-away sandbox: a private mount namespace
# with its own /etc/ztctl, /run, fake journal and private system bus, and a provisioned
# service directory. Prints the configuration, the daemon's start-up journal lines with
# their priorities, its exit status and what became of its pid file. Nothing of the host
# system is changed. Needs root.
#
#   scripts/demo.sh [--skip-build] [--build-dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
skip_build=no
while [ $# -gt 0 ]; do
    case "$1" in
        --skip-build) skip_build=yes ;;
        --build-dir) build_dir="$2"; shift ;;
        *) echo "usage: $0 [--skip-build] [--build-dir DIR]" >&2; exit 2 ;;
    esac
    shift
done

if [ "$(id -u)" -ne 0 ]; then
    echo "demo.sh: needs root (mount namespaces, a private system bus)" >&2
    exit 1
fi

if [ "$skip_build" = no ]; then
    echo "=== installing build dependencies"
    scripts/install-deps.sh
    echo "=== configuring and building (preset default)"
    cmake --preset default >/dev/null
    cmake --build --preset default
fi

echo "=== starting ztctld in a sandbox"
status=0
"$build_dir/testing/zt-sandbox" --seconds 20 || status=$?
echo "=== demo finished; ztctld's exit status: $status"
