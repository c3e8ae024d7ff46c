#!/usr/bin/env bash
# The whole life of an encrypted disk, in a throw-away sandbox: a private mount namespace with
# its own /etc/ztctl, /run, /dev, fake journal and private system bus, a service directory
# provisioned for the administrator "admin", the real ztctld, and the encryption driver
# stand-in in place of the kernel module. Everything after the start is done with ztctl: the
# administrator registers the sandbox account alice and creates her disk; alice mounts it,
# writes a file, unmounts, mounts again and reads it back; a shell of alice sitting in her disk
# makes a plain unmount fail and is ended by a forced one; the administrator removes alice and
# stops the service. Each step prints its elapsed time, what ztctl printed and the journal lines
# the daemon wrote for it. Nothing of the host changes. Needs root.
#
#   scripts/demo.sh [--skip-build] [--build-dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
skip_build=no
while [ $# -gt 0 ]; do
    case "$1" in
        --skip-build) skip_build=yes ;;
        --build-dir) build_dir="$2"; shift ;;
        *) echo "usage: $0 [--skip-build] [--build-dir DIR]" >&2; exit 2 ;;
    esac
    shift
done

if [ "$(id -u)" -ne 0 ]; then
    echo "demo.sh: needs root (mount namespaces, loop devices, a private system bus)" >&2
    exit 1
fi

if [ "$skip_build" = no ]; then
    echo "=== installing build dependencies"
    scripts/install-deps.sh
    echo "=== configuring and building (preset default)"
    cmake --preset default >/dev/null
    cmake --build --preset default
fi

echo "=== the life of alice's disk, in a sandbox, driven by ztctl"
status=0
"$build_dir/testing/zt-sandbox" --seconds 30 --account alice -- bash -c '
    set -uo pipefail
    admin=(ztctl --as admin --password-file "$ZT_SANDBOX_ADMIN_PASSWORD_FILE")
    work=$(mktemp -d /run/zt-demo.XXXXXX)
    echo "alice password" > "$work/alice.pw"
    alice=(ztctl --as alice --password-file "$work/alice.pw")
    # A program of alice: her uid and group, no others, exec'"'"'d in place (no helper process).
    as_alice() { setpriv --reuid=alice --regid=alice --clear-groups -- "$@"; }
    # The handshake of every ztctl call logs the same lines; a step shows only its own.
    handshake="OpenSession|Auth|GetContainer|SwitchContext|SetupSession|Private|SetupComplete|StopSession"
    seconds() { awk -v a="$1" -v b="$2" "BEGIN { printf \"%7.3f\", (b - a) / 1e9 }"; }
    start=$(date +%s%N)
    steps=0

    # step TITLE COMMAND...: runs the command, then prints the step line with its time, the
    # command and its output, and the journal lines the daemon wrote meanwhile. The step
    # fails when the command does; "expect_fail" before the command turns that around.
    step() {
        local title=$1 expect=0; shift
        if [ "$1" = expect_fail ]; then expect=1; shift; fi
        local before t0 t1 rc out
        before=$(wc -l < "$ZT_SANDBOX_JOURNAL_LIVE")
        t0=$(date +%s%N)
        out=$("$@" 2>&1); rc=$?
        t1=$(date +%s%N)
        # The journal file follows the daemon within some 20 ms; wait until it is quiet.
        local size=-1 now
        for _ in $(seq 50); do
            sleep 0.04
            now=$(wc -l < "$ZT_SANDBOX_JOURNAL_LIVE")
            [ "$now" = "$size" ] && break
            size=$now
        done
        steps=$((steps + 1))
        printf "[%s s] %s\n" "$(seconds "$t0" "$t1")" "$title"
        printf "    $ %s\n" "$(printf "%q " "$@" | sed "s|$ZT_SANDBOX_ADMIN_PASSWORD_FILE|ADMIN_PW|; s|$work/||g; s|${ZT_CRYX_PRELOAD:-/nonexistent}|\$ZT_CRYX_PRELOAD|; s| ASAN_OPTIONS=[^ ]*||")"
        [ -n "$out" ] && printf "%s\n" "$out" | sed "s/^/      /"
        local lines
        lines=$(tail -n +"$((before + 1))" "$ZT_SANDBOX_JOURNAL_LIVE")
        local own
        own=$(printf "%s\n" "$lines" | grep -Ev "(processed|Request to be processed): ($handshake)$" | grep -v "^$" || true)
        local hidden=$(( $(printf "%s\n" "$lines" | grep -c . || true) - $(printf "%s\n" "$own" | grep -c . || true) ))
        [ -n "$own" ] && printf "%s\n" "$own" | sed "s/^/    journal /"
        [ "$hidden" -gt 0 ] && echo "    journal ($hidden lines of the session handshake not shown)"
        if { [ "$expect" = 0 ] && [ "$rc" != 0 ]; } || { [ "$expect" = 1 ] && [ "$rc" = 0 ]; }; then
            echo "demo: step failed (exit status $rc): $title" >&2
            exit 1
        fi
    }

    step "the administrator registers the sandbox account alice" \
        "${admin[@]}" user add alice --new-password-file "$work/alice.pw"
    step "the administrator lists the users" "${admin[@]}" user list
    step "the administrator creates alice'"'"'s 64 MiB ext4 disk" \
        "${admin[@]}" disk create alice --path "$work/alice.img" --size 64M --fs ext4
    step "alice asks for her disk'"'"'s state" "${alice[@]}" disk status
    step "alice mounts her disk" "${alice[@]}" mount
    step "alice writes a file into it" as_alice sh -c "echo \"written by alice\" > /zt/alice/note.txt"
    step "alice unmounts her disk" "${alice[@]}" unmount
    step "the file is gone from view while the disk is down" test ! -e /zt/alice/note.txt
    step "alice mounts her disk again" "${alice[@]}" mount
    step "alice reads the file back" as_alice cat /zt/alice/note.txt
    # Started from a subshell, so that it is no job of this shell (whose end would be reported).
    (setpriv --reuid=alice --regid=alice --clear-groups -- sh -c "cd /zt/alice && exec sleep 600" \
        </dev/null >/dev/null 2>&1 & echo $! > "$work/shell.pid")
    shell=$(cat "$work/shell.pid")
    for _ in $(seq 100); do
        [ "$(readlink /proc/$shell/cwd 2>/dev/null)" = /zt/alice ] && break
        sleep 0.05
    done
    # ztctl lists the holders itself; with the driver stand-in it reads the device numbers
    # through the stand-in'"'"'s preload library, as the daemon does.
    step "a shell of alice sits in her disk: a plain unmount is refused and names it" \
        expect_fail env LD_PRELOAD="$ZT_CRYX_PRELOAD" \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "${alice[@]}" unmount
    step "a forced unmount ends the shell and takes the disk down" "${alice[@]}" unmount --force
    gone() { for _ in $(seq 100); do [ -e "/proc/$1" ] || return 0; sleep 0.05; done; return 1; }
    step "the shell is gone" gone "$shell"
    step "the administrator removes alice" "${admin[@]}" user remove alice
    step "alice is no longer registered" expect_fail "${admin[@]}" user registered alice
    step "the service stops (root only)" "${admin[@]}" service stop
    end=$(date +%s%N)
    printf "[%s s] total of %d steps\n" "$(seconds "$start" "$end")" "$steps"
    rm -rf "$work"
' || status=$?
echo "=== demo finished with status $status"
exit "$status"
