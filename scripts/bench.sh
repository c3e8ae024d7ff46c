#!/usr/bin/env bash
# Runs every benchmark that sets this project beside an anchor measured in the same run (raw
# library calls, an echo service on the same bus, the system tools, fuser), prints one table
# (operation, this project, anchor, ratio, target, met) and writes it into
# docs/performance.md between the markers of its first section.
#
#   scripts/bench.sh [--no-build] [--no-write]
#
# ZT_BENCH_REPETITIONS (default 3) sets the repetitions; medians are reported. ZT_BENCHES
# (names from the list below, space separated) runs only those; the other rows stay empty. The benchmarks
# that run the daemon need root and mount namespaces: without them their rows say "skipped".
# The machine must be left as it was found: loop devices and the mount table are compared
# before and after, and a difference fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
write=1
for arg in "$@"; do
    case "$arg" in
        --no-build) build=0 ;;
        --no-write) write=0 ;;
        *) echo "usage: $0 [--no-build] [--no-write]" >&2; exit 2 ;;
    esac
done
repetitions=${ZT_BENCH_REPETITIONS:-3}
bin=build-release/bench
all_benches=(crc32_bench serializer_bench crypto_bench database_bench bus_bench accounts_bench
             disks_bench process_scan_bench)
read -ra benches <<<"${ZT_BENCHES:-${all_benches[*]}}"

# bench | operation | this project | anchor | kind | target | unit
#   a value is RUN@FIELD: the run name of a benchmark (its leading part is enough) and "real"
#   or "cpu" (times, shown in unit) or a counter (shown as it is); anchors may add values with
#   "+". kind: time (ratio = project / anchor), speed (ratio = anchor time / project time),
#   rate (ratio = project / anchor), value (no anchor; the target bounds the value itself).
rows=$(cat <<'EOF'
crc32_bench|CRC-32 of a 64-byte packet, against zlib|BM_Crc32Sliced/64@cpu|BM_Crc32Zlib/64@cpu|speed|>=1|ns
crc32_bench|CRC-32 of 64 KiB, against zlib|BM_Crc32Sliced/65536@cpu|BM_Crc32Zlib/65536@cpu|speed|>=0.75|us
crc32_bench|CRC-32 of 1 MiB, against zlib|BM_Crc32Sliced/1048576@cpu|BM_Crc32Zlib/1048576@cpu|speed|>=0.75|us
crc32_bench|CRC-32 of 64 KiB, against a bytewise loop|BM_Crc32Sliced/65536@cpu|BM_Crc32Bytewise/65536@cpu|speed|>=6|us
crc32_bench|CRC-32 of 1 MiB, against a bytewise loop|BM_Crc32Sliced/1048576@cpu|BM_Crc32Bytewise/1048576@cpu|speed|>=6|us
serializer_bench|Item frame decode, allocations per item|BM_SerializerDecode@allocs_per_item|-|value|<=1.01|
crypto_bench|Session encryption of 4 KiB, against raw EVP|BM_SessionEncrypt/4096@cpu|BM_RawEvpEncrypt/4096@cpu|speed|>=0.8|us
crypto_bench|Session encryption of 1 MiB, against raw EVP|BM_SessionEncrypt/1048576@cpu|BM_RawEvpEncrypt/1048576@cpu|speed|>=0.8|us
crypto_bench|Session decryption of 4 KiB, against raw EVP|BM_SessionDecrypt/4096@cpu|BM_RawEvpDecrypt/4096@cpu|speed|>=0.8|us
crypto_bench|Session decryption of 1 MiB, against raw EVP|BM_SessionDecrypt/1048576@cpu|BM_RawEvpDecrypt/1048576@cpu|speed|>=0.8|us
crypto_bench|Server handshake cryptography per session|BM_ServerHandshake@real|-|value|<=1|ms
crypto_bench|Start-up random vector|BM_StartupRandomVector@real|-|value|<=50|ms
database_bench|Database save, 100 users, against raw hash and cipher|BM_DatabaseSave/100@real|BM_RawHashAndCipher/100@real|time|<=3|ms
database_bench|Database save, 10 000 users, against raw hash and cipher|BM_DatabaseSave/10000@real|BM_RawHashAndCipher/10000@real|time|<=3|ms
database_bench|Database save, 100 000 users, against raw hash and cipher|BM_DatabaseSave/100000@real|BM_RawHashAndCipher/100000@real|time|<=3|ms
database_bench|Database load, 100 users, against raw hash and cipher|BM_DatabaseLoad/100@real|BM_RawHashAndCipher/100@real|time|<=3|ms
database_bench|Database load, 10 000 users, against raw hash and cipher|BM_DatabaseLoad/10000@real|BM_RawHashAndCipher/10000@real|time|<=3|ms
database_bench|Database load, 100 000 users, against raw hash and cipher|BM_DatabaseLoad/100000@real|BM_RawHashAndCipher/100000@real|time|<=3|ms
database_bench|Peak heap of a load, 100 000 users, times the file|BM_DatabaseLoad/100000@peak_heap_x_file|-|value|<=4|x
bus_bench|Encrypted "GetPublicKey" against the echo (calls/s)|BM_RequestVsEcho/block:1@request_calls/s|BM_RequestVsEcho/block:1@echo_calls/s|rate|>=0.8|/s
bus_bench|Full handshake against 11 echoes and the key agreement|BM_SessionVsEcho/authenticated:0@handshake_ms|BM_SessionVsEcho/authenticated:0@echo11_ms+BM_SessionVsEcho/authenticated:0@key_agreement_ms|time|<=2|ms
bus_bench|Daemon VmRSS growth over 10 000 requests|BM_ResidentOverRequests@growth_KiB|-|value|<=1024|KiB
bus_bench|Daemon VmRSS per kept encrypted session|BM_ResidentPerSession/sessions:200/secure:1@bytes_per_session|-|value|<=2048|B
accounts_bench|"GetList", 1 000 users, against the echo of its reply|BM_GetListVsEcho/users:1000@getlist_ms|BM_GetListVsEcho/users:1000@echo_ms|time|<=1.5|ms
accounts_bench|"GetList", 10 000 users, against the echo of its reply|BM_GetListVsEcho/users:10000@getlist_ms|BM_GetListVsEcho/users:10000@echo_ms|time|<=1.5|ms
accounts_bench|Peak memory of "GetList", 1 000 users, against its reply|BM_GetListPeakMemory/users:1000@first_peak_KiB|BM_GetListPeakMemory/users:1000@reply_KiB|time|<=3|KiB
accounts_bench|Peak memory of "GetList", 10 000 users, against its reply|BM_GetListPeakMemory/users:10000@first_peak_KiB|BM_GetListPeakMemory/users:10000@reply_KiB|time|<=3|KiB
accounts_bench|Registration, the daemon's part ("Add" less a trivial request)|BM_Registration@daemon_ms|-|value|<=2|ms
disks_bench|"Create", ext4 of 64 MiB, against the tools|BM_CreateVsTools/MiB:64@daemon_ms|BM_CreateVsTools/MiB:64@tools_ms|time|<=1.2|ms
disks_bench|"Create", ext4 of 1 GiB, against the tools|BM_CreateVsTools/MiB:1024@daemon_ms|BM_CreateVsTools/MiB:1024@tools_ms|time|<=1.2|ms
disks_bench|"Mount", against the tools|BM_MountVsTools@daemon_mount_ms|BM_MountVsTools@tools_mount_ms|time|<=1.5|ms
disks_bench|"Unmount", against the tools|BM_MountVsTools@daemon_unmount_ms|BM_MountVsTools@tools_unmount_ms|time|<=1.5|ms
process_scan_bench|Process scan, 1 000 children, against fuser -m|BM_ScanVsFuser/children:1000@scan_ms|BM_ScanVsFuser/children:1000@fuser_ms|time|<=0.6|ms
EOF
)

host_state() {
    losetup -a 2>/dev/null | sort
    sort /proc/self/mounts
}

if [ "$build" = 1 ]; then
    # Standard output carries only the table.
    scripts/install-deps.sh >&2
    cmake --preset release >/dev/null
    cmake --build --preset release -j "$(nproc)" >&2
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
before=$(host_state)
load_start=$(cut -d' ' -f1 /proc/loadavg)
started=$(date -u '+%Y-%m-%d %H:%M UTC')
for bench in "${benches[@]}"; do
    echo "=== $bench" >&2
    # A benchmark that cannot run (no root, no namespaces) reports that per case in its JSON;
    # one that fails outright leaves no file and its rows say so.
    ZT_BENCH_DIR=${ZT_BENCH_DIR:-/dev/shm} "$bin/$bench" \
        --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
        --benchmark_out="$out/$bench.json" --benchmark_out_format=json >&2 ||
        echo "$bench exited with status $?" >&2
done
load_end=$(cut -d' ' -f1 /proc/loadavg)
if [ "$(host_state)" != "$before" ]; then
    echo "the benchmarks left loop devices or mounts behind:" >&2
    diff <(echo "$before") <(host_state) >&2 || true
    exit 1
fi

# The median (or the only run) of the first benchmark whose run name is run or begins with
# "run/": a number, "skipped" when the case could not run, nothing when there is no such case.
# Times are given in ms.
value() {
    local file=$1 run=${2%@*} field=${2#*@}
    [ -f "$file" ] || return 0
    jq -r --arg run "$run" --arg field "$field" '
        [.benchmarks[] | select((.run_name == $run or (.run_name | startswith($run + "/")))
                                and ((.aggregate_name // "median") == "median"))][0]
        | if . == null then empty
          elif .error_occurred then "skipped"
          elif $field == "real" or $field == "cpu" then
              (if $field == "real" then .real_time else .cpu_time end)
              * {"ns": 1e-6, "us": 1e-3, "ms": 1, "s": 1e3}[.time_unit]
          else .[$field] // empty end' "$file"
}

# Sums the values of a "+"-joined list; prints "skipped" or nothing as value does.
total() {
    local file=$1 sum=0 part v
    IFS='+' read -ra parts <<<"$2"
    for part in "${parts[@]}"; do
        v=$(value "$file" "$part")
        if [ -z "$v" ] || [ "$v" = skipped ]; then
            echo "$v"
            return
        fi
        sum=$(awk -v a="$sum" -v b="$v" 'BEGIN { print a + b }')
    done
    echo "$sum"
}

# The target as the table shows it: "at most 1.5x", "at least 0.8x", "at most 2 ms".
target_text() {
    local target=$1 kind=$2 unit=$3 suffix=x
    [ "$kind" = value ] && suffix=${unit:+ $unit}
    [ "$unit" = x ] && suffix=x
    case "$target" in
        "<="*) echo "at most ${target#<=}${suffix}" ;;
        *) echo "at least ${target#>=}${suffix}" ;;
    esac
}

# A value for the table: times scaled from ms into unit, every number with three significant
# digits.
show() {
    local v=$1 field=$2 unit=$3
    awk -v v="$v" -v field="$field" -v unit="$unit" 'BEGIN {
        if (field == "real" || field == "cpu")
            v *= (unit == "ns") ? 1e6 : (unit == "us") ? 1e3 : (unit == "s") ? 1e-3 : 1
        text = (v >= 1000) ? sprintf("%.0f", v) : sprintf("%.3g", v)
        sep = (unit == "/s" || unit == "x" || unit == "") ? "" : " "
        printf "%s%s%s", text, sep, unit }'
}

table=$(
    echo "| Operation | This project | Anchor | Ratio | Target | Met |"
    echo "|---|---|---|---|---|---|"
    while IFS='|' read -r bench operation project anchor kind target unit; do
        file="$out/$bench.json"
        p=$(total "$file" "$project")
        a=-
        [ "$anchor" = - ] || a=$(total "$file" "$anchor")
        if [ -z "$p" ] || [ -z "$a" ] || [ "$p" = skipped ] || [ "$a" = skipped ]; then
            why="no result"
            [ "$p" = skipped ] || [ "$a" = skipped ] && why=skipped
            echo "| $operation | $why | | | $(target_text "$target" "$kind" "$unit") | |"
            continue
        fi
        p_text=$(show "$p" "${project##*@}" "$unit")
        a_text=—
        [ "$anchor" = - ] || a_text=$(show "$a" "${anchor##*@}" "$unit")
        awk -v op="$operation" -v p="$p" -v a="$a" -v kind="$kind" -v target="$target" \
            -v pt="$p_text" -v at="$a_text" -v shown="$(target_text "$target" "$kind" "$unit")" '
            BEGIN {
                bound = substr(target, 3) + 0
                if (kind == "time" || kind == "rate") r = p / a
                else if (kind == "speed") r = a / p
                else r = p
                met = substr(target, 1, 2) == "<=" ? (r <= bound) : (r >= bound)
                ratio = (kind == "value") ? "—" : sprintf("%.2fx", r)
                printf "| %s | %s | %s | %s | %s | %s |\n", op, pt, at, ratio, shown,
                       met ? "yes" : "no"
            }'
    done <<<"$rows"
)

commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
runs="${repetitions} repetitions, medians"
[ "$repetitions" = 1 ] && runs="one run"
header="Measured ${started} by \`scripts/bench.sh\` at commit ${commit}: release preset,
${runs}, $(nproc) cores, load average ${load_start} at the start and ${load_end} at the end."
echo
echo "$header"
echo
echo "$table"

if [ "$write" = 1 ]; then
    doc=docs/performance.md
    begin='<!-- scripts/bench.sh writes from here -->'
    end='<!-- to here -->'
    if ! grep -qF "$begin" "$doc" || ! grep -qF "$end" "$doc"; then
        echo "$doc has no markers for the table" >&2
        exit 1
    fi
    # The command substitution drops trailing newlines; awk puts back the blank line before
    # the end marker, which must stay a line of its own for the next run to find it.
    block=$(printf '%s\n\n%s' "$header" "$table")
    BLOCK="$block" awk -v begin="$begin" -v end="$end" '
        $0 == begin { print; printf "%s\n\n", ENVIRON["BLOCK"]; skip = 1; next }
        $0 == end { skip = 0 }
        !skip' "$doc" >"$doc.new"
    mv "$doc.new" "$doc"
    echo "written into $doc" >&2
fi
