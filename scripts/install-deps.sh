#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the fuzzers and the demo need.
# Idempotent: prints nothing and installs nothing when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config g++ clang libclang-rt-14-dev llvm
    libglib2.0-dev libdbus-1-dev libdbus-glib-1-dev libmount-dev uuid-dev libssl-dev zlib1g-dev
    libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev
    gettext dbus-daemon dbus-bin libglib2.0-bin systemd openssl util-linux e2fsprogs jq
    mount libfuse3-dev fuse3
    groff-base man-db
    dpkg-dev file binutils psmisc
    clang-format clang-tidy
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
