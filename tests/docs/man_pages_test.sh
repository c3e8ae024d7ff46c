#!/usr/bin/env bash
# The manual pages render without a single warning, both through groff and through man, and
# they describe what the built programs offer: every command and option that ztctl lists,
# every option of ztctld and ztctl-provision, and only cross references to pages that exist.
# Usage: man_pages_test.sh MAN_DIR [--ztctld PATH] [--ztctl PATH] [--provision PATH]
set -u
. "$(dirname "$(readlink -f "$0")")/../support/skip.sh"

man_dir=$1
shift
ztctld='' ztctl='' provision=''
while [ $# -gt 0 ]; do
    case $1 in
        --ztctld) ztctld=$2 ;;
        --ztctl) ztctl=$2 ;;
        --provision) provision=$2 ;;
        *) echo "unknown argument $1"; exit 2 ;;
    esac
    shift 2
done

for tool in groff man; do
    if ! command -v "$tool" >/dev/null; then
        skip_test "$tool is not installed (scripts/install-deps.sh installs groff-base and man-db)"
    fi
done

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The page as plain text on long lines without hyphenation, so that words stay whole.
text_of() {
    LC_ALL=C groff -man -Tascii -rLL=400n -rHY=0 -P-cbou "$1" 2>/dev/null
}

declare -A page_text
for name in ztctld.8 ztctl.1 ztctl.conf.5 ztctl-provision.8; do
    [ -f "$man_dir/$name" ] || fail "$name is missing from $man_dir"
done
for page in "$man_dir"/*.[158]; do
    [ -f "$page" ] || continue
    name=$(basename "$page")
    warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z "$page" 2>&1) ||
        fail "$name: groff exited with $?"
    [ -z "$warnings" ] || fail "$name: groff warns: $warnings"
    # The check Debian's lintian makes: man's own formatting at 80 columns.
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) ||
        fail "$name: man exited with $?"
    [ -z "$warnings" ] || fail "$name: man warns: $warnings"

    # The title line names the page as its file does.
    base=${name%.*}
    section=${name##*.}
    title=$(sed -n '1s/^\.TH \([^ ]*\) \([^ ]*\) .*/\1 \2/p' "$page")
    expected="$(tr '[:lower:]' '[:upper:]' <<<"$base" | sed 's/-/\\-/g') $section"
    [ "$title" = "$expected" ] || fail "$name: title \"$title\", expected \"$expected\""
    page_text[$name]=$(text_of "$page")
done

# Every page of this system that a page refers to exists.
for name in "${!page_text[@]}"; do
    for ref in $(grep -o 'ztctl[a-z.-]*([0-9])' <<<"${page_text[$name]}" | sort -u); do
        target="${ref%(*}.$(tr -d ')' <<<"${ref#*(}")"
        [ -f "$man_dir/$target" ] || fail "$name refers to $ref, which is not in $man_dir"
    done
done

# documents PAGE WHAT WORDS: the page's text contains WORDS.
documents() {
    grep -qF -- "$3" <<<"${page_text[$1]:-}" || fail "$1 does not document $2 \"$3\""
}

# The options a help text lists: every word that starts with -- or is a single-letter option.
options_in() {
    grep -oE -- '(^|[[:space:],|[])(--[a-z][a-z-]*|-[a-z])\b' <<<"$1" |
        sed -E 's/^[[:space:],|[]//' | sort -u
}

if [ -n "$ztctld" ]; then
    help=$("$ztctld" --help)
    for option in $(options_in "$help"); do
        documents ztctld.8 option "$option"
    done
fi

if [ -n "$provision" ]; then
    help=$("$provision" --help)
    for option in $(options_in "$help"); do
        documents ztctl-provision.8 option "$option"
    done
fi

# The subcommands a CLI11 help text lists, one per line after "Subcommands:".
subcommands_in() {
    sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' <<<"$1"
}

if [ -n "$ztctl" ]; then
    top=$("$ztctl" --help)
    for option in $(options_in "$top"); do
        documents ztctl.1 option "$option"
    done
    for command in $(subcommands_in "$top"); do
        [ "$command" = help ] && continue
        help=$("$ztctl" help "$command")
        leaves=$(subcommands_in "$help")
        if [ -z "$leaves" ]; then
            documents ztctl.1 command "$command"
            for option in $(options_in "$help"); do
                documents ztctl.1 "option of $command" "$option"
            done
            continue
        fi
        for leaf in $leaves; do
            documents ztctl.1 command "$command $leaf"
            for option in $(options_in "$("$ztctl" help "$command" "$leaf")"); do
                documents ztctl.1 "option of $command $leaf" "$option"
            done
        done
    done
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every page renders cleanly and documents what the programs offer"
