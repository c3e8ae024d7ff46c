#!/usr/bin/env bash
# The account commands of ztctl against the real daemon in the sandbox: an administrator
# registers alice from the key store she made herself and bob from one ztctl makes, the
# lists, profiles and registration answers follow, both users reach their sessions, and bob
# is removed again. Usage: ztctl_accounts_test.sh ZT-SANDBOX
set -u
. "$(dirname "$(readlink -f "$0")")/../support/skip.sh"

if [ "${1:-}" != --inside ]; then
    sandbox=$1
    "$sandbox" --seconds 30 --account alice --account bob -- bash "$(readlink -f "$0")" --inside
    rc=$?
    if [ $rc -eq 125 ]; then
        skip_test "no sandbox can be built here (root and namespaces are needed)"
    fi
    exit $rc
fi

# Inside the sandbox, as root, with the built ztctl first on PATH. /run is the sandbox's own.
work=/run/ztctl-accounts
mkdir -m 0700 "$work" "$work/tmp" && cd "$work" || exit 1
# Key stores that ztctl makes for an administrator go here, so that leftovers show.
export TMPDIR=$work/tmp
admin=(--as admin --password-file "$ZT_SANDBOX_ADMIN_PASSWORD_FILE")
printf 'alice secret\n' >alice.pw
printf 'bob secret\n' >bob.pw
printf 'not it\n' >wrong.pw
failures=0

fail() {
    echo "FAIL: $*"
    echo "  stdout: $(cat out)"
    echo "  stderr: $(cat err)"
    failures=$((failures + 1))
}

# expect STATUS ARGS...: runs ztctl ARGS (standard input from the file $input) and checks
# its exit status; the output stays in out and err.
input=/dev/null
expect() {
    local want=$1
    shift
    ztctl "$@" <"$input" >out 2>err
    local got=$?
    [ $got -eq "$want" ] || fail "ztctl $* exited with $got, not $want"
}

# check JQ-FILTER: the JSON object in out satisfies the filter.
check() {
    jq -e "$1" out >/dev/null || fail "JSON $(cat out) does not satisfy $1"
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

cd / && rm -rf "$work"
[ $failures -eq 0 ] && echo "account commands: all checks passed"
exit $((failures != 0))
