#!/usr/bin/env bash
# The installed bash completion, completing for the installed ztctl: each line of the table
# is the command line typed so far (the last word is completed) and what is offered.
#   completion_test.sh STAGE
set -uo pipefail
stage=$1
program=$stage/usr/bin/ztctl
# shellcheck source=/dev/null
source "$stage/usr/share/bash-completion/completions/ztctl"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/keystore.a" "$work/keystore.b" "$work/other"

global="--as --help --json --password-file --quiet --timeout --version -h -q"
cases=(
    "ztctl |admin disk help keystore mount ping service status unmount user"
    "ztctl disk |create created has-uuid ready status"
    "ztctl unmount --f|--force"
    "ztctl us|user"
    "ztctl user |add list registered remove show"
    "ztctl --as root user r|registered remove"
    "ztctl --timeout 5 service |deinit public-key stop"
    "ztctl service deinit -|$global --yes -y"
    "ztctl help service |deinit public-key stop"
    "ztctl help user a|add"
    "ztctl keystore create --out $work/keystore.|$work/keystore.a $work/keystore.b"
    "ztctl user show roo|root"
    "ztctl --as roo|root"
    "ztctl --timeout |"
)

failed=0
for entry in "${cases[@]}"; do
    line=${entry%%|*}
    want=${entry#*|}
    read -ra COMP_WORDS <<<"$line"
    # A line ending in a blank completes a new, empty word.
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _ztctl "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort | tr '\n' ' ')
    want=$(printf '%s\n' $want | sed '/^$/d' | LC_ALL=C sort | tr '\n' ' ')
    if [[ $got != "$want" ]]; then
        echo "FAIL [$line]: offered '$got', expected '$want'"
        failed=1
    fi
done
if ! getent passwd root >/dev/null; then
    echo "FAIL: the account root is missing, the account cases cannot hold"
    failed=1
fi
[ $failed -eq 0 ] && echo "all ${#cases[@]} completions as expected"
exit $failed
