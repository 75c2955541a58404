#!/bin/sh
# Runs a Windows program of the build under Wine, in the project's own prefix, and
# returns its exit code. CTest uses it as the emulator of the Windows build.
#
# Standard input comes from /dev/null and the output is never piped through another
# program here: Wine's system processes inherit the standard handles of the first
# program of a session, and a pipe they hold never closes.
set -u

. "$(dirname -- "$0")/wine-env.sh"

if [ "$#" -eq 0 ]; then
    echo "usage: $0 program.exe [arguments...]" >&2
    exit 2
fi

exec wine "$@" </dev/null
