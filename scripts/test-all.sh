#!/usr/bin/env bash
# Runs every test: the default build's unit, integration, black-box and fuzz-replay tests,
# the same under AddressSanitizer/UndefinedBehaviorSanitizer, and a short libFuzzer run of
# every fuzz target. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/install-deps.sh

for preset in default asan fuzz; do
    echo "=== ${preset}: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

status=0
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for preset in default asan fuzz; do
    echo "=== ${preset}: tests"
    ctest --preset "$preset" -j "$jobs" | tee "$log" || status=1
    # CTest's summary: "100% tests passed, 0 tests failed out of 224"
    read -r f total < <(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+)/\1 \2/p' "$log")
    if [ -z "${total:-}" ]; then
        echo "no CTest summary for preset ${preset}" >&2
        status=1
        continue
    fi
    failed=$((failed + f))
    passed=$((passed + total - f))
done
echo "all presets: ${passed} passed, ${failed} failed"
exit $status
