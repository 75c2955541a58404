#!/bin/bash
# The service against Wine's time limits for its answers to the manager (10 s for the first
# status report after a start, 10 s for a control handler), and a log it cannot open,
# installed as the README says beside the stand-ins for the agent and its plugins:
#   - a start with 50,000 files in the agent's temporary directory succeeds and empties
#     it before the agent runs;
#   - a stop with 50,000 files there answers at once and ends within 15 s, whatever is
#     left for the next start;
#   - a second stop half a second after the first is refused and ends nothing early;
#   - a start while another program holds the log open sharing nothing still starts the
#     group, and the log receives lines within the health cycle after the holder ends.
# A prefix of its own, made and thrown away here: a service that misses the manager's
# limits can leave Wine's manager unable to answer until its server ends. The held log
# waits a health cycle doing nothing: it runs beside the rest, as a run of this script in
# a second prefix.
#
# usage: service_limits_test.sh <path of quillmark_snaptel.exe> <directory of the stand-ins>
#                               [held-log]
set -u

if [ "$#" -lt 2 ] || [ ! -f "$1" ] || [ ! -d "$2" ]; then
    echo "usage: $0 <path of quillmark_snaptel.exe> <directory of the stand-ins> [held-log]" >&2
    exit 2
fi
exe_source=$1
standins=$2
part=${3:-}
QM_WINEPREFIX=$(mktemp -d /tmp/quillmark-limits-prefix.XXXXXX) || exit 1
# The manager's error codes from sc, and the service's events: the service's standard
# error is that of the session's first program, whose output wine-prefix.sh keeps.
QM_WINEDEBUG=-all,err+sc,err+eventlog
export QM_WINEPREFIX QM_WINEDEBUG
. "$(dirname -- "$0")/wine-checks.sh"
events=$WINEPREFIX/session.log
holder='log-holder.exe'
holder_windows="C:\\$holder"

finish() {
    if [ "$failures" -ne 0 ] || [ "$completed" -ne 1 ]; then
        show_transcript
        echo "  --- ${log:-}:"
        sed 's/^/    | /' "${log:-}" 2>/dev/null
        echo "  --- the service's standard error and events:"
        grep -E 'eventlog|quillmark' "$events" | sed 's/^/    /'
    fi
    [ -n "${held_run:-}" ] && kill "$held_run" 2>/dev/null
    sh "$wine_checks_dir/wine-prefix.sh" teardown
    wineserver -w 2>/dev/null
    rm -rf "$WINEPREFIX"
    finish_run
}
trap finish EXIT

if [ -z "$part" ]; then
    bash "$0" "$exe_source" "$standins" held-log >"$scratch/held-log.txt" 2>&1 &
    held_run=$!
fi
echo "Making a prefix of its own (about 20 s)"
if ! sh "$wine_checks_dir/wine-prefix.sh" setup >"$scratch/setup.txt" 2>&1; then
    cat "$scratch/setup.txt"
    exit 1
fi
stage_service_folder "Quillmark Limits Test" "$exe_source" "$standins" "$agent"
cp "$standins/$agent" "$drive_c/$holder" || exit 1
run_executable install install

planted=50000
# Fills the temporary directory with $planted small files; a tenth of a second from Linux.
plant_files() {
    mkdir -p "$temp_dir" && (cd "$temp_dir" && seq "$planted" | split -l 1 -a 5 -d - planted-)
}
planted_left() {
    find "$temp_dir" -maxdepth 1 -name 'planted-*' | wc -l
}

held_log() {
    echo "Scenario start while another program holds the log open sharing nothing (up to 70 s)"
    use_log held
    rm -f "$log"
    "$wine_run" "$holder_windows" --hold-alone "$(windows_path "$log")" >"$scratch/holder.txt" 2>&1 &
    wait_until 30 test -f "$log" || fail "the holder did not open the log within 30 s: $(cat "$scratch/holder.txt")"
    local events_before released
    events_before=$(wc -l <"$events")
    if start_service; then
        if ! group_running; then
            fail "expected the agent and both plugins to run while the log is held; found:"
            show_processes
        fi
        tail -n +$((events_before + 1)) "$events" | grep -q ':err:eventlog:' ||
            fail "expected an error event for the log that cannot be opened, found none"
    fi
    run_wine 30 taskkill /F /IM "$holder"
    released=$EPOCHREALTIME
    if service_in_state RUNNING; then
        if wait_until 70 test -s "$log"; then
            echo "  the log received lines $(seconds_since "$released") s after the holder ended"
        else
            fail "expected lines in the log within 70 s of the holder's end, found it empty"
        fi
        stop_service
    fi
}
if [ "$part" = held-log ]; then
    held_log
    completed=1
    exit
fi

echo "Scenario start with $planted files in the temporary directory"
plant_files
use_log start
if start_service 180; then
    echo "  RUNNING $start_time s after 'sc start'"
    if ! group_running; then
        fail "expected the agent and both plugins to run, one of each, 30 s after RUNNING; found:"
        show_processes
    fi
fi
# The agent leaves two files at its launch: a clean-up after it would take the read-only one.
agent_id=$(tail -n 1 "$launches" 2>/dev/null | cut -f1)
expected="agent-$agent_id-open.txt agent-$agent_id-readonly.txt"
found=$(find "$temp_dir" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' ')
if [ "${found% }" != "$expected" ]; then
    fail "expected the temporary directory to hold the agent's two files ($expected), found $(planted_left) planted files and: $(find "$temp_dir" -mindepth 1 -maxdepth 1 ! -name 'planted-*' -printf '%f ')"
fi

echo "Scenario stop with $planted files in the temporary directory"
# Deleting what a failed start left would take about a second per thousand files.
service_in_state RUNNING || { rm -rf "$temp_dir"; start_service; }
plant_files
stop_service 15
echo "  STOPPED $stop_time s after 'sc stop'; $(planted_left) planted files left"
wait_until_folder_idle

echo "Scenario two stops half a second apart, with $planted files in the temporary directory"
rm -rf "$temp_dir"
use_log two-stops
start_service
plant_files
timeout 60 "$wine_run" sc stop "$service" >"$scratch/first-stop.txt" 2>&1 &
first_stop=$!
sleep 0.5
run_wine 60 sc stop "$service"
second_rc=$cmd_rc
second_error=$(sc_error)
wait "$first_stop" && first_rc=0 || first_rc=$?
[ "$first_rc" -eq 0 ] || fail "the first 'sc stop' exited with $first_rc, expected 0: $(tr -d '\r' <"$scratch/first-stop.txt")"
if [ "$second_rc" -eq 0 ]; then
    fail "the second 'sc stop' exited with 0, expected a refusal (1061) while the stop is pending"
elif [[ $second_error != *1061* ]]; then
    fail "the second 'sc stop' exited with $second_rc $second_error, expected the manager's refusal 1061"
fi
wait_for_state STOPPED 15 || fail "expected STOPPED within 15 s of the stops, sc query shows $(sc_state)"
wait_until_folder_idle
# A service ended midway never writes its last line.
if [ "$(tail -n 1 "$log" | grep -o ':<D>:  wmain exit')" != ':<D>:  wmain exit' ]; then
    fail "expected the service's log to end with wmain exit, found: $(tail -n 1 "$log")"
fi

if ! wait "$held_run"; then
    fail "the held log's part failed"
fi
held_run=
sed 's/^/  /' "$scratch/held-log.txt"
completed=1
