#!/usr/bin/env bash
# The commands of the built ztctl against the real daemon in one sandbox, with the encryption
# driver stand-in. Accounts: an administrator registers alice from the key store she made
# herself and bob from one ztctl makes, the lists, profiles and registration answers follow,
# both users reach their sessions, and bob is removed again. Disks: the administrator creates
# alice's 64M disk; alice asks about it, mounts it, a process of hers sitting in it makes a
# plain unmount fail with that process listed, and a forced unmount ends it and takes the
# disk down. The service: both handshakes, the pinned keys, and root's stop. The host's loop
# devices and mount table are the same afterwards. Usage: ztctl_commands_test.sh ZT-SANDBOX
set -u
. "$(dirname "$(readlink -f "$0")")/../support/skip.sh"

if [ "${1:-}" != --inside ]; then
    sandbox=$1
    loops_before=$(losetup -a 2>/dev/null)
    mounts_before=$(cat /proc/self/mounts)
    "$sandbox" --seconds 60 --account alice --account bob -- bash "$(readlink -f "$0")" --inside
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
work=/run/ztctl-commands
mkdir -m 0700 "$work" "$work/tmp" && cd "$work" || exit 1
# Key stores that ztctl makes for an administrator go here, so that leftovers show.
export TMPDIR=$work/tmp
admin=(--as admin --password-file "$ZT_SANDBOX_ADMIN_PASSWORD_FILE")
printf 'alice secret\n' >alice.pw
printf 'bob secret\n' >bob.pw
printf 'not it\n' >wrong.pw
alice=(--as alice --password-file "$work/alice.pw")
failures=0

fail() {
    echo "FAIL: $*"
    echo "  stdout: $(cat out)"
    echo "  stderr: $(cat err)"
    failures=$((failures + 1))
}

# expect STATUS ARGS...: runs ztctl ARGS (standard input from the file $input) and checks
# its exit status; the output stays in out and err. The client sees the driver stand-in's
# devices as it would the real driver's (the busy unmount's scan reads their device
# numbers), so it runs with the stand-in's preload; a sanitized ztctl accepts a library
# preloaded before its runtime only when told so.
input=/dev/null
expect() {
    local want=$1
    shift
    LD_PRELOAD=${ZT_CRYX_PRELOAD:-} ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
        ztctl "$@" <"$input" >out 2>err
    local got=$?
    [ $got -eq "$want" ] || fail "ztctl $* exited with $got, not $want"
}

# check JQ-FILTER: the JSON object in out satisfies the filter.
check() {
    jq -e "$1" out >/dev/null || fail "JSON $(cat out) does not satisfy $1"
}

# field NAME: a top-level member of the JSON object in out.
field() {
    jq -r ".$1" out
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

# Self-service: alice makes her key store, the password typed twice on standard input.
printf 'alice secret\nalice secret\n' >twice.in
input=twice.in
expect 0 --json keystore create --out alice.ks
check '.command == "keystore create" and .ok and .file == "alice.ks"'
[ "$(stat -c %a alice.ks)" = 600 ] || fail "alice.ks has mode $(stat -c %a alice.ks)"
before=$(sha256sum alice.ks)
# An existing file is never overwritten.
printf 'x\nx\n' >other.in
input=other.in
expect 1 keystore create --out alice.ks
[ "$(sha256sum alice.ks)" = "$before" ] || fail "alice.ks was overwritten"
# Two entries that differ: a bad input (2), and no file is left behind.
printf 'one\ntwo\n' >differ.in
input=differ.in
expect 2 keystore create --out other.ks
grep -q 'passwords do not match' err || fail "no mismatch message"
[ ! -e other.ks ] || fail "other.ks left behind"
input=/dev/null

# The administrator registers it by its path; the service consumes the file.
expect 0 "${admin[@]}" user add alice --keystore alice.ks
[ ! -e alice.ks ] || fail "the service left alice.ks"
expect 1 "${admin[@]}" --json user add alice --keystore alice.pw
check '.ok == false and .error.category != null'

# The administrator makes bob's key store; its private file goes in every case.
expect 0 "${admin[@]}" user add bob --new-password-file bob.pw
expect 1 "${admin[@]}" user add ghost --new-password-file bob.pw
[ -z "$(ls -A "$TMPDIR")" ] || fail "key store files left in $TMPDIR: $(ls -A "$TMPDIR")"

# Lists, profiles and registration answers.
expect 0 "${admin[@]}" --json user list
check '[.users[].name] | sort == ["alice", "bob"]'
check '.users | all(.id > 0 and .created > 0)'
expect 0 "${admin[@]}" user list
grep -q '^alice ' out && grep -q '^bob ' out || fail "user list lacks a user"
expect 0 "${admin[@]}" --json admin list
check '.admins | map(.name) == ["admin"]'
expect 0 --json user show alice
check '.name == "alice" and .role == "user" and .id > 0'
expect 0 --json user show admin
check '.role == "admin"'
expect 1 --json user show ghost
check '.ok == false and .error.category == "database" and .error.value == 1029'
expect 0 user registered alice
[ "$(cat out)" = yes ] || fail "alice is not said to be registered"
expect 1 user registered ghost
[ "$(cat out)" = no ] || fail "ghost is said to be registered"
expect 1 --json user registered admin
check '.ok and .registered == false'

# The users reach their encrypted sessions with their own passwords.
expect 0 --as alice --password-file alice.pw --json status
check '.account == "alice" and .role == "user" and .disk.state == "none"'
expect 0 --as alice --password-file alice.pw ping
expect 4 --as alice --password-file wrong.pw status
expect 0 --as bob --password-file bob.pw ping
expect 0 "${admin[@]}" --json status
check '.account == "admin" and .role == "admin"'

# bob goes again.
expect 0 "${admin[@]}" user remove bob
expect 1 user registered bob
[ "$(cat out)" = no ] || fail "bob is still registered"
expect 1 "${admin[@]}" user remove bob
expect 0 "${admin[@]}" --json user list
check '[.users[].name] == ["alice"]'

# Only administrators manage users.
expect 1 --as alice --password-file alice.pw user list


# Disks: alice is registered now.
# Before the disk: no disk, not ready; a relative path is refused before anything is asked.
expect 1 "${alice[@]}" disk created
[ "$(cat out)" = no ] || fail "alice's disk is said to exist"
expect 1 "${alice[@]}" --json disk ready
check '.ok and .ready == false'
expect 2 "${admin[@]}" disk create alice --path alice.img --size 64M
expect 2 "${admin[@]}" disk create alice --path "$work/alice.img" --size 64X
[ ! -e alice.img ] || fail "a refused command line made a container"

# The administrator creates it.
expect 0 "${admin[@]}" --json disk create alice --path "$work/alice.img" --size 64M
check '.command == "disk create" and .size == 67108864 and .fs == "ext4"'
[ "$(stat -c '%s %U %a' alice.img)" = "67108864 alice 600" ] ||
    fail "the container is $(stat -c '%s %U %a' alice.img)"
expect 0 "${admin[@]}" --json disk status alice
check '.user == "alice" and .state == "created" and .path == "'"$work"'/alice.img"'
uuid=$(field uuid)
other=00000000-1111-2222-3333-444444444444

# alice asks about it.
expect 0 "${alice[@]}" --json disk status
check '.user == "alice" and .state == "created"'
expect 0 "${alice[@]}" disk ready
[ "$(cat out)" = yes ] || fail "alice's disk is not said to be ready"
expect 0 "${alice[@]}" disk created
[ "$(cat out)" = yes ] || fail "alice's disk is not said to exist"
expect 0 "${alice[@]}" disk has-uuid "${uuid^^}"
[ "$(cat out)" = yes ] || fail "alice's disk does not have its own UUID"
expect 1 "${alice[@]}" --json disk has-uuid "$other"
check '.ok and .has_uuid == false and .uuid == "'"$other"'"'
expect 1 "${admin[@]}" disk ready

# Mounted; a second mount is refused, and so is a mount of another UUID.
expect 0 "${alice[@]}" --json mount
check '.mount_directory == "/zt/alice"'
mounted || fail "the disk is not mounted on /zt/alice"
expect 1 "${alice[@]}" mount
expect 0 "${alice[@]}" --json disk status
check '.state == "mounted"'

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
check '(.ok | not) and .error.value == 16 and any(.holders[]; .pid == '"$holder"' and .user == "alice" and .command == "sleep" and .how == "cwd")'
mounted || fail "a failed unmount took the disk down"
kill -0 "$holder" 2>/dev/null || fail "a failed unmount ended the holder"

# The forced unmount ends it and takes the disk down.
expect 0 "${alice[@]}" --json unmount --force
check '.forced == true'
wait_for '! kill -0 $holder 2>/dev/null' || fail "the forced unmount left $holder running"
wait "$holder" 2>/dev/null
mounted && fail "the disk is still mounted after the forced unmount"
expect 1 "${alice[@]}" unmount
expect 0 "${alice[@]}" --json disk status
check '.state == "unmounted"'

# By its UUID, once more, and down plainly now that nobody holds it.
expect 1 "${alice[@]}" mount --uuid "$other"
expect 0 "${alice[@]}" mount --uuid "$uuid"
mounted || fail "the disk is not mounted by its UUID"
expect 0 "${alice[@]}" unmount --uuid "$uuid"
mounted && fail "the disk is still mounted after unmount --uuid"

# Both handshakes of the service; the keys the provisioning tool pinned are the daemon's:
# another key-agreement key in the pin file makes the client refuse the service before
# anything is sent (authentication, 4).
expect 0 "${admin[@]}" ping
expect 0 "${admin[@]}" ping --authenticated
pinned=$(cat /etc/ztctl/service.pub)
grep -q '^key-agreement ' /etc/ztctl/service.pub || fail "no key-agreement key is pinned"
sed -i "s/^key-agreement .*/key-agreement $(printf 'a%.0s' $(seq 64))/" /etc/ztctl/service.pub
expect 4 "${admin[@]}" ping
printf '%s\n' "$pinned" >/etc/ztctl/service.pub
expect 0 "${admin[@]}" --json service public-key
grep -q public out || fail "no public key shown"

# Root stops the service: the daemon ends the ordinary way and takes its pid file along.
expect 0 "${admin[@]}" service stop
wait_for '[ ! -e /var/run/ztctld.pid ]' || fail "the daemon did not stop"

cd / && rm -rf "$work"
[ $failures -eq 0 ] && echo "ztctl commands: all checks passed"
exit $((failures != 0))
