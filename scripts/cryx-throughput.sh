#!/usr/bin/env bash
# Measures the encryption driver stand-in: sequential 1 MiB writes and reads of a file on
# ext4 mounted from /dev/cryxN, in a sandbox (zt-sandbox), with the container on the
# sandbox's tmpfs so that the figure is the stand-in's own (FUSE, AES-256-XTS, two loop
# devices), not a disk's. For reference only; nothing depends on it. Needs root and a build.
#
#   scripts/cryx-throughput.sh [--build-dir DIR] [--mib N]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
mib=256
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build_dir="$2"; shift ;;
        --mib) mib="$2"; shift ;;
        *) echo "usage: $0 [--build-dir DIR] [--mib N]" >&2; exit 2 ;;
    esac
    shift
done

# Runs inside the sandbox; prints dd's summary lines.
inside=$(cat <<'INSIDE'
set -euo pipefail
mib=$1
ctl() { LD_PRELOAD=$ZT_CRYX_PRELOAD zt-cryx-ctl "$@"; }
truncate -s $((mib + 64))M /run/zt-sandbox/bench.img
loop=$(losetup -f --show /run/zt-sandbox/bench.img)
head -c 32 /dev/urandom > /run/zt-sandbox/bench.key
number=$(ctl add "$loop" --key-file /run/zt-sandbox/bench.key)
mkfs.ext4 -q -E lazy_itable_init=0,lazy_journal_init=0 /dev/cryx$number
mkdir -p /zt/bench
mount /dev/cryx$number /zt/bench
echo "write:"
dd if=/dev/zero of=/zt/bench/file bs=1M count="$mib" conv=fsync 2>&1 | tail -1
# A fresh mount: the file's pages are no longer cached.
umount /zt/bench
mount /dev/cryx$number /zt/bench
echo "read:"
dd if=/zt/bench/file of=/dev/null bs=1M 2>&1 | tail -1
umount /zt/bench
ctl remove "$number"
losetup -d "$loop"
INSIDE
)

exec "$build_dir/testing/zt-sandbox" --module live --seconds 60 -- \
    /bin/bash -c "$inside" bench "$mib"
