#!/usr/bin/env bash
# The disk commands of ztctl against the real daemon in the sandbox, with the encryption
# driver stand-in: an administrator registers alice and creates her 64M disk; alice asks
# about it, mounts it, a process of hers sitting in it makes a plain unmount fail with that
# process listed, and a forced unmount ends it and takes the disk down. The host's loop
# devices and mount table are the same afterwards. Usage: ztctl_disks_test.sh ZT-SANDBOX
set -u
. "$(dirname "$(readlink -f "$0")")/../support/skip.sh"

if [ "${1:-}" != --inside ]; then
    sandbox=$1
    loops_before=$(losetup -a 2>/dev/null)
    mounts_before=$(cat /proc/self/mounts)
    "$sandbox" --seconds 60 --account alice -- bash "$(readlink -f "$0")" --inside
    rc=$?
    if [ $rc -eq 125 ]; then
        skip_test "no sandbox can be built here (root and namespaces are needed)"
    fi
    if [ "$(losetup -a 2>/dev/null)" != "$loops_before" ]; then
        echo "FAIL: the host's loop devices changed:"
        diff <(echo "$loops_before") <(losetup -a 2>/dev/null)
        rc=1
    fi
    if [ "$(cat /proc/self/mounts)" != "$mounts_before" ]; then
        echo "FAIL: the host's mount table changed:"
        diff <(echo "$mounts_before") /proc/self/mounts
        rc=1
    fi
    exit $rc
fi

# Inside the sandbox, as root, with the built ztctl first on PATH. /run is the sandbox's own.
work=/run/ztctl-disks
mkdir -m 0700 "$work" && cd "$work" || exit 1
admin=(--as admin --password-file "$ZT_SANDBOX_ADMIN_PASSWORD_FILE")
printf 'alice secret\n' >alice.pw
alice=(--as alice --password-file "$work/alice.pw")
failures=0

fail() {
    echo "FAIL: $*"
    echo "  stdout: $(cat out)"
    echo "  stderr: $(cat err)"
    failures=$((failures + 1))
}

# expect STATUS ARGS...: runs ztctl ARGS and checks its exit status; the output stays in out
# and err. The client sees the driver stand-in's devices as it would the real driver's (the
# busy unmount's scan reads their device numbers), so it runs with the stand-in's preload.
expect() {
    local want=$1
    shift
    # A sanitized ztctl accepts a library preloaded before its runtime only when told so.
    LD_PRELOAD=$ZT_CRYX_PRELOAD ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
        ztctl "$@" </dev/null >out 2>err
    local got=$?
    [ $got -eq "$want" ] || fail "ztctl $* exited with $got, not $want"
}

# check PYTHON-EXPRESSION: the JSON object in out, as j, satisfies the expression.
check() {
    python3 -c 'import json, sys; j = json.load(open("out")); sys.exit(0 if eval(sys.argv[1]) else 1)' \
        "$1" || fail "JSON $(cat out) does not satisfy $1"
}

# field NAME: a top-level member of the JSON object in out.
field() {
    python3 -c 'import json, sys; print(json.load(open("out"))[sys.argv[1]])' "$1"
}

# wait_for SHELL-CONDITION: true once the condition holds, false after 10 seconds.
wait_for() {
    local deadline=$((SECONDS + 10))
    until eval "$1"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.05
    done
}

mounted() {
    grep -q ' /zt/alice ' /proc/self/mounts
}

expect 0 "${admin[@]}" user add alice --new-password-file alice.pw

# Before the disk: no disk, not ready; a relative path is refused before anything is asked.
expect 1 "${alice[@]}" disk created
[ "$(cat out)" = no ] || fail "alice's disk is said to exist"
expect 1 "${alice[@]}" --json disk ready
check 'j["ok"] and j["ready"] is False'
expect 2 "${admin[@]}" disk create alice --path alice.img --size 64M
expect 2 "${admin[@]}" disk create alice --path "$work/alice.img" --size 64X
[ ! -e alice.img ] || fail "a refused command line made a container"

# The administrator creates it.
expect 0 "${admin[@]}" --json disk create alice --path "$work/alice.img" --size 64M
check 'j["command"] == "disk create" and j["size"] == 64 << 20 and j["fs"] == "ext4"'
[ "$(stat -c '%s %U %a' alice.img)" = "67108864 alice 600" ] ||
    fail "the container is $(stat -c '%s %U %a' alice.img)"
expect 0 "${admin[@]}" --json disk status alice
check 'j["user"] == "alice" and j["state"] == "created" and j["path"] == "/run/ztctl-disks/alice.img"'
uuid=$(field uuid)
other=00000000-1111-2222-3333-444444444444

# alice asks about it.
expect 0 "${alice[@]}" --json disk status
check 'j["user"] == "alice" and j["state"] == "created"'
expect 0 "${alice[@]}" disk ready
[ "$(cat out)" = yes ] || fail "alice's disk is not said to be ready"
expect 0 "${alice[@]}" disk created
[ "$(cat out)" = yes ] || fail "alice's disk is not said to exist"
expect 0 "${alice[@]}" disk has-uuid "${uuid^^}"
[ "$(cat out)" = yes ] || fail "alice's disk does not have its own UUID"
expect 1 "${alice[@]}" --json disk has-uuid "$other"
check 'j["ok"] and j["has_uuid"] is False and j["uuid"] == "'"$other"'"'
expect 1 "${admin[@]}" disk ready

# Mounted; a second mount is refused, and so is a mount of another UUID.
expect 0 "${alice[@]}" --json mount
check 'j["mount_directory"] == "/zt/alice"'
mounted || fail "the disk is not mounted on /zt/alice"
expect 1 "${alice[@]}" mount
expect 0 "${alice[@]}" --json disk status
check 'j["state"] == "mounted"'

# A process of alice's sits in her disk: the plain unmount fails and names it.
setpriv --reuid=alice --regid=alice --clear-groups sh -c 'cd /zt/alice && exec sleep 600' &
holder=$!
wait_for '[ "$(readlink /proc/$holder/cwd)" = /zt/alice ] && [ "$(cat /proc/$holder/comm)" = sleep ]' ||
    fail "the holder did not settle in /zt/alice"
expect 1 "${alice[@]}" unmount
grep -q 'busy' err || fail "the busy unmount does not say why"
grep -Eq "^$holder +alice +sleep +cwd\$" err || fail "the busy unmount does not list $holder"
grep -q 'unmount --force' err || fail "the busy unmount does not suggest --force"
expect 1 "${alice[@]}" --json unmount --uuid "$uuid"
check 'not j["ok"] and j["error"]["value"] == 16 and {"pid": '"$holder"', "user": "alice", "command": "sleep", "how": "cwd"}.items() <= next(h for h in j["holders"] if h["pid"] == '"$holder"').items()'
mounted || fail "a failed unmount took the disk down"
kill -0 "$holder" 2>/dev/null || fail "a failed unmount ended the holder"

# The forced unmount ends it and takes the disk down.
expect 0 "${alice[@]}" --json unmount --force
check 'j["forced"] is True'
wait_for '! kill -0 $holder 2>/dev/null' || fail "the forced unmount left $holder running"
wait "$holder" 2>/dev/null
mounted && fail "the disk is still mounted after the forced unmount"
expect 1 "${alice[@]}" unmount
expect 0 "${alice[@]}" --json disk status
check 'j["state"] == "unmounted"'

# By its UUID, once more, and down plainly now that nobody holds it.
expect 1 "${alice[@]}" mount --uuid "$other"
expect 0 "${alice[@]}" mount --uuid "$uuid"
mounted || fail "the disk is not mounted by its UUID"
expect 0 "${alice[@]}" unmount --uuid "$uuid"
mounted && fail "the disk is still mounted after unmount --uuid"

cd / && rm -rf "$work"
[ $failures -eq 0 ] && echo "disk commands: all checks passed"
exit $((failures != 0))
