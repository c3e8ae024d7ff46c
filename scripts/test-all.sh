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
for preset in default asan fuzz; do
    echo "=== ${preset}: tests"
    ctest --preset "$preset" -j "$jobs" || status=1
done
exit $status
