#!/usr/bin/env bash
# The README's first command, scripts/demo.sh, run on the built tree: it must end with 0,
# show every step of the disk's life with its time and the daemon's journal lines for it,
# and leave no loop device or mount behind. Usage: demo_test.sh BUILD_DIR
set -u
. "$(dirname "$(readlink -f "$0")")/../support/skip.sh"
build_dir=$1
cd "$(dirname "$0")/../.."

if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    skip_test "the demo needs root and mount namespaces"
fi

loops_before=$(losetup -a | sort)
mounts_before=$(sort /proc/self/mounts)
out=$(scripts/demo.sh --skip-build --build-dir "$build_dir" 2>&1)
rc=$?
failures=0
check() {  # check PATTERN WHAT: the output holds a line matching the extended regex
    if ! grep -Eq -- "$1" <<<"$out"; then
        echo "FAIL: $2 (no line matching: $1)"
        failures=$((failures + 1))
    fi
}
time='^\[ *[0-9]+\.[0-9]{3} s\] '
[ "$rc" = 0 ] || { echo "FAIL: the demo ended with $rc"; failures=$((failures + 1)); }
check "${time}the administrator registers the sandbox account alice$" "registration step"
check "^ +Registered user alice$" "registration output"
check "^    journal <6> The request was processed: InsertUser$" "registration journal"
check "^ +alice +1 " "the user list"
check "${time}the administrator creates alice's 64 MiB ext4 disk$" "creation step"
check "^    journal <6> The request was processed: CreateDisk$" "creation journal"
check "^ +disk +created$" "the disk's state"
check "${time}alice mounts her disk$" "mount step"
check "^ +The disk is mounted on /zt/alice$" "mount output"
check "${time}alice writes a file into it$" "write step"
check "${time}alice unmounts her disk$" "unmount step"
check "${time}the file is gone from view while the disk is down$" "unmounted view"
check "${time}alice mounts her disk again$" "second mount"
check "^ +written by alice$" "the file read back"
check "^ +[0-9]+ +alice +sleep +cwd$" "the holder listed by the refused unmount"
check "^    journal <4> Unable to unmount the disk: Device or resource busy$" "refusal journal"
check "^    journal <6> Ended process [0-9]+ \(sleep\) holding /zt/alice$" "forced unmount journal"
check "${time}the shell is gone$" "holder ended"
check "^ +Removed user alice$" "removal"
check "${time}alice is no longer registered$" "not registered"
check "^    journal <6> Stopping the daemon$" "stop"
check "${time}total of 16 steps$" "the total"
if grep -q "^demo: step failed" <<<"$out"; then
    echo "FAIL: a step failed"
    failures=$((failures + 1))
fi
[ "$(losetup -a | sort)" = "$loops_before" ] || { echo "FAIL: loop devices left"; failures=$((failures + 1)); }
[ "$(sort /proc/self/mounts)" = "$mounts_before" ] || { echo "FAIL: mounts left"; failures=$((failures + 1)); }
if [ "$failures" -ne 0 ]; then
    printf '%s\n' "--- demo output" "$out"
    exit 1
fi
echo "demo: every step shown, host unchanged"
