#!/usr/bin/env bash
# The "ztlinux" message catalogue and the programs that use it.
#
#   catalogue_test.sh catalogue SOURCE_DIR CMAKE XGETTEXT MSGFMT MSGCMP
#     po/ru.po translates every entry (nothing untranslated or fuzzy), po/ztlinux.pot is what
#     the sources give today, and every message of the template is in ru.po.
#   catalogue_test.sh programs ZT-SANDBOX ZTCTLD LOCALE_ROOT
#     In the sandbox (root; skips with 77 otherwise), LOCALE_ROOT (the build tree's compiled
#     catalogues) is bind-mounted over /usr/share/locale inside the namespace; with
#     LANGUAGE=ru in a UTF-8 locale, "ztctld -h" prints the Russian usage and an error reply
#     of the running daemon reaches ztctl's output in Russian with its category and value.
set -u
. "$(dirname "$(readlink -f "$0")")/../support/skip.sh"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The tools' own messages stay English, whatever the caller's locale.
export LC_ALL=C
unset LANGUAGE

catalogue() {
    local source_dir=$1 cmake=$2 xgettext=$3 msgfmt=$4 msgcmp=$5
    local po=$source_dir/po/ru.po pot=$source_dir/po/ztlinux.pot
    local tmp
    tmp=$(mktemp -d) || exit 1
    trap 'rm -rf "$tmp"' EXIT

    # Complete and valid: msgfmt counts no untranslated and no fuzzy entry.
    local stats
    if ! stats=$("$msgfmt" --check --statistics -o "$tmp/ru.mo" "$po" 2>&1); then
        fail "msgfmt --check rejects po/ru.po:"$'\n'"$stats"
    elif grep -Eq 'untranslated|fuzzy' <<<"$stats" || ! grep -Eq '^[0-9]+ translated' <<<"$stats"; then
        fail "po/ru.po is not completely translated: $stats"
    fi

    # The committed template is what the sources give now.
    if ! "$cmake" -DSOURCE_DIR="$source_dir" -DXGETTEXT="$xgettext" -DDOMAIN=ztlinux \
        -DOUTPUT="$tmp/ztlinux.pot" -P "$source_dir/po/make_pot.cmake" >"$tmp/pot.log" 2>&1; then
        fail "the template cannot be extracted: $(cat "$tmp/pot.log")"
    elif ! cmp -s "$tmp/ztlinux.pot" "$pot"; then
        fail "po/ztlinux.pot differs from the texts in the sources:"
        diff -u "$pot" "$tmp/ztlinux.pot" | sed -n '1,60p'
        echo "Run 'cmake --build build --target pot', then bring po/ru.po up to date"
        echo "('msgmerge --update --add-location=file po/ru.po po/ztlinux.pot') and translate"
        echo "the new and changed entries."
    fi

    # Every message of the template has its translation.
    local missing
    if ! missing=$("$msgcmp" "$po" "$pot" 2>&1); then
        fail "po/ru.po lacks messages of po/ztlinux.pot (translate them):"$'\n'"$missing"
    fi
}

# The translation of msgid in the compiled catalogues under $locale_root.
translation() {
    TEXTDOMAINDIR=$locale_root LC_ALL=C.UTF-8 LANGUAGE=ru gettext -d ztlinux -- "$1"
}

has_cyrillic() {
    LC_ALL=C.UTF-8 grep -qP '\p{Cyrillic}' <<<"$1"
}

# Runs inside the sandbox as root, with the built ztctl first on PATH.
programs_inside() {
    local ztctld=$1
    locale_root=$2
    mount --bind "$locale_root" /usr/share/locale || {
        echo "cannot bind the build tree's catalogues over /usr/share/locale"
        exit 1
    }
    local english russian

    # The usage text: each piece in its translation, the layout unchanged.
    english=$("$ztctld" -h) || fail "ztctld -h exited with $?"
    russian=$(LC_ALL=C.UTF-8 LANGUAGE=ru "$ztctld" -h) || fail "ztctld -h (ru) exited with $?"
    local expected
    expected="$(translation Options):"$'\n'$'\t'"-d            $(translation 'Become daemon')"
    expected+=$'\n'$'\t'"-h,  --help   $(translation 'Print this message')"
    expected+=$'\n'"$(translation $'Return codes: \n')"
    expected+=$'\n'"0 - $(translation Success)"$'\n'"1 - $(translation Failure)"
    if ! has_cyrillic "$russian" || [ "$russian" = "$english" ]; then
        fail "ztctld -h with LANGUAGE=ru is not Russian:"$'\n'"$russian"
    elif [ "$russian" != "$expected" ]; then
        fail "ztctld -h with LANGUAGE=ru:"$'\n'"$russian"$'\n'"expected:"$'\n'"$expected"
    fi

    # An error reply of the daemon: "ztctl: TEXT (CATEGORY VALUE)" keeps its category and
    # value, and TEXT is the catalogue's translation of the English text.
    local pattern='^ztctl: (.*) \((.*) ([0-9]+)\)$'
    local -a command=(ztctl --as admin --password-file "$ZT_SANDBOX_ADMIN_PASSWORD_FILE" user
        show nosuchuser)
    english=$("${command[@]}" 2>&1 >/dev/null)
    russian=$(LC_ALL=C.UTF-8 LANGUAGE=ru "${command[@]}" 2>&1 >/dev/null)
    if ! [[ $english =~ $pattern ]]; then
        fail "no error line from ${command[*]}: $english"
    else
        local text=${BASH_REMATCH[1]} where="${BASH_REMATCH[2]} ${BASH_REMATCH[3]}"
        if [ "$where" != "database 1029" ]; then
            fail "unexpected error for an unknown user: $english"
        fi
        if ! [[ $russian =~ $pattern ]]; then
            fail "no error line with LANGUAGE=ru: $russian"
        elif [ "${BASH_REMATCH[2]} ${BASH_REMATCH[3]}" != "$where" ]; then
            fail "category or value changed with the language: $english / $russian"
        elif ! has_cyrillic "${BASH_REMATCH[1]}" ||
            [ "${BASH_REMATCH[1]}" != "$(translation "$text")" ]; then
            fail "the error text is not the Russian translation of \"$text\": $russian"
        fi
    fi
}

programs() {
    local sandbox=$1 ztctld=$2 locale_root=$3
    "$sandbox" --seconds 30 -- bash "$(readlink -f "$0")" programs-inside "$ztctld" "$locale_root"
    local rc=$?
    if [ $rc -eq 125 ]; then
        skip_test "no sandbox can be built here (root and namespaces are needed)"
    fi
    [ $rc -eq 0 ] && echo "the programs speak Russian with LANGUAGE=ru"
    exit $rc
}

mode=${1:-}
shift
case $mode in
    catalogue) catalogue "$@" ;;
    programs) programs "$@" ;;
    programs-inside) programs_inside "$@" ;;
    *)
        echo "usage: $0 catalogue|programs ARGS..."
        exit 2
        ;;
esac
[ $failures -eq 0 ] && echo "$mode: all checks passed"
exit $((failures != 0))
