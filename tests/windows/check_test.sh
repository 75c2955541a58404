#!/bin/bash
# Checks the check command under Wine on an installation like the demo's: registered and
# not yet started, then running with its group, it reports no problem and ends with 0;
# with the agent's file renamed away it names that problem and ends with 1. Neither run
# changes the service's log or the agent group.
#
# usage: check_test.sh <path of quillmark_snaptel.exe> <directory of the stand-ins>
set -u

if [ "$#" -ne 2 ] || [ ! -f "$1" ] || [ ! -d "$2" ]; then
    echo "usage: $0 <path of quillmark_snaptel.exe> <directory of the stand-ins>" >&2
    exit 2
fi
. "$(dirname -- "$0")/wine-checks.sh"
trap 'clear_stage; finish_run' EXIT

stage_service_folder "Quillmark Check" "$1" "$2" "$agent"

# Runs the check and judges its report: every line marked, and its exit code $1.
run_check() {
    run_wine --as "check" 120 "$exe_windows" check
    echo "  report (exit code $cmd_rc):"
    sed 's/^/    | /' <<<"$cmd_out"
    if [ "$cmd_rc" -ne "$1" ]; then
        fail "check exited with $cmd_rc, expected $1"
    fi
    if grep -vqE '^(ok       |warning  |problem  )[a-z]+: ' <<<"$cmd_out"; then
        fail "a line of the report is not marked ok, warning or problem"
    fi
    if [ -s "$scratch/err" ] && grep -qv '^fixme:\|^err:' "$scratch/err"; then
        fail "check wrote to standard error"
        show_output
    fi
}

# The service's log and the group's processes, to compare before and after a check.
untouched_state() {
    md5sum "$log" 2>/dev/null
    installed_pids "$agent"
    installed_pids "$collector"
    installed_pids "$publisher"
}

echo "Case a: registered, not started: no problem, exit code 0"
run_executable install install
run_check 0
if grep -q '^problem' <<<"$cmd_out"; then
    fail "the report names a problem"
fi

echo "Case b: running with its group: no problem, exit code 0, the log and the group untouched"
use_log service
if start_service; then
    wait_for_line 'ServiceWorkerThread' "$log" 10 || :
    before=$(untouched_state)
    run_check 0
    if grep -q '^problem' <<<"$cmd_out"; then
        fail "the report names a problem"
    fi
    if ! grep -qx 'ok       state: the service is RUNNING.' <<<"$cmd_out"; then
        fail "the report does not say the service runs"
    fi
    [ "$(untouched_state)" = "$before" ] || fail "the check changed the log or the group"

    echo "Case c: the agent's file renamed away: the problem named, exit code 1, nothing changed"
    mv "$install_dir/$agent" "$install_dir/$agent.away"
    before=$(untouched_state)
    run_check 1
    expected="problem  files: $install_windows\\$agent does not exist: the service cannot launch the agent and stops with 575."
    if ! grep -qF "$expected" <<<"$cmd_out"; then
        fail "the report does not name the missing agent: $expected"
    fi
    [ "$(grep -c '^problem' <<<"$cmd_out")" -eq 1 ] || fail "the report names another problem"
    [ "$(untouched_state)" = "$before" ] || fail "the check changed the log or the group"
    mv "$install_dir/$agent.away" "$install_dir/$agent"
    stop_service
fi

if [ "$failures" -ne 0 ]; then
    show_transcript
fi
completed=1
