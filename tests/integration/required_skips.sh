#!/usr/bin/env bash
# A test that needs root skips in an unprivileged run, and fails instead when the run must
# be complete (ZT_REQUIRE_ALL_TESTS, set by the test script under CI), so such a run never
# looks green. Runs one such test of the given test binary as the unprivileged "nobody".
set -u
binary=$1
filter='OsFiles.SetOwnerGivesFileToUserAndNeverFollowsLinks'
if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null; then
    echo "needs root and setpriv to run a test as nobody"
    exit 77
fi
as_nobody() {
    (cd / && setpriv --reuid=65534 --regid=65534 --clear-groups "$binary" --gtest_filter="$filter")
}
out=$(ZT_REQUIRE_ALL_TESTS= as_nobody 2>&1); rc=$?
if [ $rc -ne 0 ] || ! grep -q '^\[  SKIPPED \] 1 test' <<<"$out"; then
    echo "expected a skip in an ordinary unprivileged run (status $rc):"; echo "$out"; exit 1
fi
out=$(ZT_REQUIRE_ALL_TESTS=1 as_nobody 2>&1); rc=$?
if [ $rc -eq 0 ] || ! grep -q 'requires every test' <<<"$out"; then
    echo "expected a failure when every test is required (status $rc):"; echo "$out"; exit 1
fi
echo "skips are visible and fatal where required"
