#!/usr/bin/env bash
# Builds the project and runs ztctld in a throw-away sandbox (a private mount namespace with
# its own /etc/ztctl, /run, fake journal and private system bus, and a service directory
# provisioned for the administrator "admin"), drives it with ztctl: both handshakes to an
# encrypted session, the service's public key, the registration of a user who then opens a
# session of her own, a stop; then prints the journal lines the
# daemon wrote. Nothing of the host system is changed. Needs root.
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

echo "=== ztctld in a sandbox, driven by ztctl"
journal=$(mktemp)
trap 'rm -f "$journal"' EXIT
status=0
ZT_SANDBOX_JOURNAL="$journal" "$build_dir/testing/zt-sandbox" --seconds 20 --account alice -- bash -c '
    set -e
    as_admin=(ztctl --as admin --password-file "$ZT_SANDBOX_ADMIN_PASSWORD_FILE")
    echo "--- ztctl ping: a clear session, the handshake to an encrypted one, a request, close"
    "${as_admin[@]}" ping
    echo "--- ztctl ping --authenticated: the other handshake"
    "${as_admin[@]}" ping --authenticated
    echo "--- ztctl service public-key"
    "${as_admin[@]}" service public-key
    echo "--- ztctl user add alice: the administrator registers the sandbox account alice"
    echo "alice password" > /run/alice.pw
    "${as_admin[@]}" user add alice --new-password-file /run/alice.pw
    "${as_admin[@]}" user list
    echo "--- ztctl status as alice: her own encrypted session, with nothing but her password"
    ztctl --as alice --password-file /run/alice.pw status
    echo "--- ztctl service stop (as root)"
    "${as_admin[@]}" service stop
' || status=$?
echo "=== the journal lines ztctld wrote (priority, message)"
sed -nE 's/.*"MESSAGE":"(([^"\\]|\\.)*)".*"PRIORITY":"([0-9])".*/  <\3> \1/p' "$journal"
echo "=== demo finished with status $status"
exit "$status"
