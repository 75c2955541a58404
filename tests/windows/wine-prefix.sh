#!/bin/sh
# Sets up and tears down the Wine prefix the Windows tests run in.
#
#   setup     creates the prefix if it is missing, then starts a wineserver that stays
#             up until teardown, so that every test joins one session
#   teardown  ends that server and every Wine process of the prefix
#
# The prefix is $QM_WINEPREFIX, or build/wineprefix in the repository.
set -u

. "$(dirname -- "$0")/wine-env.sh"

setup() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Creating the Wine prefix $WINEPREFIX (takes about 15 s)"
        mkdir -p "$WINEPREFIX" || exit 1
        if ! wineboot -i </dev/null >"$WINEPREFIX/wineboot.log" 2>&1; then
            echo "wineboot -i failed; see $WINEPREFIX/wineboot.log" >&2
            exit 1
        fi
        # wineboot returns while its boot session still runs; a test joining that
        # session would meet two service control managers.
        wineserver -w
    fi
    # Debian's wrapper starts servers with -p0, which would end the session (and any
    # service in it) whenever the last test program exits. A server started by -p
    # stays up. When one is already running, -p returns 2 and that server is kept.
    # The server outlives this script: it must not hold CTest's output pipe.
    wineserver -p </dev/null >/dev/null 2>&1
    status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 2 ]; then
        echo "wineserver -p failed with $status" >&2
        exit 1
    fi
    # The first program of a session starts the system processes, and they inherit its
    # standard handles. Start the session here with /dev/null and a file, so that no
    # later test leaves its CTest pipe open in a process that never ends.
    if ! wine cmd.exe /c exit 0 </dev/null >"$WINEPREFIX/session.log" 2>&1; then
        echo "starting the Wine session failed; see $WINEPREFIX/session.log" >&2
        exit 1
    fi
    echo "Wine prefix $WINEPREFIX ready"
}

teardown() {
    # -k fails when no server is running: then there is nothing left to end.
    wineserver -k </dev/null >/dev/null 2>&1
    exit 0
}

case "${1:-}" in
setup) setup ;;
teardown) teardown ;;
*)
    echo "usage: $0 setup|teardown" >&2
    exit 2
    ;;
esac
