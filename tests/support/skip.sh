# Sourced by the shell tests. skip_test REASON: the test cannot run here; it exits 77 (CTest's
# skip), or 1 when this run requires every test (ZT_REQUIRE_ALL_TESTS, or CI=true).
skip_test() {
    local required=${ZT_REQUIRE_ALL_TESTS:-}
    [ "${CI:-}" = true ] && required=1
    if [ -n "$required" ] && [ "$required" != 0 ]; then
        echo "this run requires every test, but: $1"
        exit 1
    fi
    echo "skipped: $1"
    exit 77
}
