# shellcheck shell=bash
# Sourced by the bash scripts that check the service under Wine (and by the demo): the
# prefix's environment from wine-env.sh, the count of failed checks and the run's verdict,
# Wine commands run with a time limit, Windows paths, waits, and the service and the
# programs of an installed folder as seen from outside.
#
# A file of its own rather than a part of wine-env.sh: wine-run.sh and wine-prefix.sh
# source that one with sh, and dash reads a sourced file as it goes, so a guard there
# would have to stop it before the first line of bash; kept apart, each file is checked
# as the one dialect it is written in.
#
# Each script gets a scratch folder under /tmp ($scratch); finish_run removes it.

wine_checks_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
. "$wine_checks_dir/wine-env.sh"
wine_run=$wine_checks_dir/wine-run.sh
drive_c=$WINEPREFIX/drive_c

service=quillmark_snaptel
registry_key='HKLM\System\CurrentControlSet\Services\quillmark_snaptel'
# shellcheck disable=SC2034 # read by the scripts that source this file
event_source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\quillmark_snaptel'
agent=snapteld.exe
collector=snap-plugin-collector-qmsystem.exe
publisher=snap-plugin-publisher-quillmark.exe

scratch=$(mktemp -d "/tmp/quillmark-$(basename -- "$0" .sh).XXXXXX") || exit 1
# A time-out or an interrupt must still clear away: the scripts' EXIT traps do that.
trap 'exit 130' INT
trap 'exit 143' TERM

# --- Checks and the verdict ------------------------------------------------------------

failures=0
# Set by a script when it gets past its last check: an exit before that is a failure.
completed=0
fail() {
    echo "  FAIL: $*"
    failures=$((failures + 1))
}

# Removes the scratch folder and ends the run with its last line and exit code. Called
# last by each script's EXIT trap, after its own clearing away.
finish_run() {
    rm -rf "$scratch"
    if [ "$completed" -ne 1 ]; then
        echo "the run ended before its last scenario ($failures check(s) failed until then)"
        exit 1
    elif [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "All checks passed"
    exit 0
}

# --- Running Wine commands -------------------------------------------------------------

# run_wine [--as <name>] <seconds> <program> [arguments...]
# Runs a Windows program under Wine with a time limit. Sets cmd_rc, and cmd_out (its
# standard output without CR and NUL bytes); both streams stay in $scratch/out and
# $scratch/err until the next command. The command and its output go to the transcript,
# and a run cut off at its limit is a failed check (named by --as, else by the command)
# unless quiet is 1: clearing away checks nothing, nor does the demo. Always returns 0,
# so that a script under "set -e" can look at cmd_rc.
run_wine() {
    local name=
    if [ "$1" = --as ]; then
        name=$2
        shift 2
    fi
    local limit=$1
    shift
    timeout "$limit" "$wine_run" "$@" >"$scratch/out" 2>"$scratch/err" && cmd_rc=0 || cmd_rc=$?
    cmd_out=$(tr -d '\r\000' <"$scratch/out")
    [ "${quiet:-0}" -eq 1 ] && return 0
    {
        printf '$ wine'
        printf ' %q' "$@"
        printf '   (exit code %s)\n' "$cmd_rc"
        sed 's/^/    /' <<<"$cmd_out"
    } >>"$scratch/transcript.txt"
    if [ "$cmd_rc" -eq 124 ]; then
        fail "${name:-"'wine $*'"} did not end within $limit s"
    fi
    return 0
}

# Every Wine command the checks ran, with its exit code and output.
show_transcript() {
    echo "  --- Wine commands and their output:"
    sed 's/^/    /' "$scratch/transcript.txt" 2>/dev/null
}

# The last command's standard output and standard error, as they were written.
show_output() {
    echo "  --- standard output:"
    sed 's/^/    /' "$scratch/out"
    echo "  --- standard error:"
    sed 's/^/    /' "$scratch/err"
}

# The Windows form of a Unix path: C: for the prefix's drive_c, Z: (the Unix root) for
# the rest.
windows_path() {
    local path=$1 drive=Z:
    case $path in
    "$drive_c"/*)
        path=${path#"$drive_c"}
        drive=C:
        ;;
    esac
    printf '%s%s' "$drive" "${path//\//\\}"
}

# --- Waiting -----------------------------------------------------------------------------

# wait_until <seconds> <command> [arguments...]
# Runs the command once a second until it succeeds; returns 1 once the time is spent.
wait_until() {
    local limit=$1 start=$SECONDS
    shift
    until "$@"; do
        [ $((SECONDS - start)) -lt "$limit" ] || return 1
        sleep 1
    done
}

# True when "sc query" reports the service in state $1 (RUNNING, STOPPED, ...); its
# answer stays in cmd_out.
service_in_state() {
    run_wine 30 sc query "$service"
    grep -Eq "STATE +: [0-9]+ +$1( |\$)" <<<"$cmd_out"
}

# Waits at most $2 s until the service reports state $1.
wait_for_state() {
    wait_until "$2" service_in_state "$1"
}

# Waits at most $3 s until the file $2 holds a line with $1.
wait_for_line() {
    wait_until "$3" grep -qF -- "$1" "$2" 2>/dev/null
}

# --- The service and the programs of an installed folder ---------------------------------

registered() {
    timeout 60 "$wine_run" reg query "$registry_key" >/dev/null 2>&1
}

# Wine gives each process its Windows command line, so a program of the installed
# folder is found by its path. Another run on the machine may install the same folder in
# a prefix of its own: every Wine process, services included, keeps the WINEPREFIX of the
# session it belongs to in its environment, and only this prefix's count. One grep over
# all command lines: a program per process would take a second for each look.
# Prints "<Linux pid> <command line>" for each process of this prefix whose command line
# holds $1.
processes_with() {
    local entry pid command_line
    for entry in $(grep -a -l -F -- "$1" /proc/[0-9]*/cmdline 2>/dev/null); do
        pid=${entry#/proc/}
        pid=${pid%/cmdline}
        grep -qzxF -- "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null || continue
        command_line=$( { tr '\0' ' ' <"$entry"; } 2>/dev/null) || continue
        printf '%s %s\n' "$pid" "${command_line% }"
    done
}

# The scripts that install the service name its folder in folder_mark, as it appears in a
# command line ahead of a program's name.

# The Linux ids of the installed program named $1, in one line.
installed_pids() {
    processes_with "$folder_mark$1" | cut -d' ' -f1 | sort -n | tr '\n' ' '
}

# True when exactly one agent and one of each plugin of the installed folder run.
group_running() {
    local name pids
    for name in "$agent" "$collector" "$publisher"; do
        pids=$(installed_pids "$name")
        [ "$(wc -w <<<"$pids")" -eq 1 ] || return 1
    done
}

show_processes() {
    echo "  --- processes of the installed folder:"
    processes_with "$folder_mark" | sed 's/^/    /'
}

# Stops and deletes the service if it is registered and ends whatever still runs from
# the installed folder, if the script has one: the manager cannot stop a service whose
# process hangs. The manager keeps a service marked for deletion while its process has
# not reported stopping, and a later session would start it again from its registry
# key: that goes too. Wine starts an automatic service again in every later session of
# the prefix, so every script that registers it calls this on its way out.
remove_service() {
    local quiet=1 pids
    if registered; then
        run_wine 60 sc stop "$service"
        wait_for_state STOPPED 30 || :
        run_wine 60 sc delete "$service"
    fi
    if [ -n "${folder_mark:-}" ]; then
        pids=$(processes_with "$folder_mark" | cut -d' ' -f1)
        if [ -n "$pids" ]; then
            # shellcheck disable=SC2086
            kill -KILL $pids 2>/dev/null || :
            sleep 1
        fi
    fi
    if registered; then
        run_wine 60 reg delete "$registry_key" /f
    fi
}

# --- A folder installed as the service -----------------------------------------------------

# shellcheck disable=SC2034 # read by the scripts that source this file
temp_dir=$drive_c/ProgramData/Quillmark/Snap/temp

# stage_service_folder <folder name> <quillmark_snaptel.exe> <directory of the stand-ins>
#                      <the agent's file name>
# Installs as on a real machine: the executable beside the stand-ins for the agent and its
# plugins in a folder under "C:\Program Files" whose name has a blank, the logs in a folder
# of their own, and an agent configuration file whose path has a blank too. Sets the
# folders' paths, folder_mark (how the folder appears in a command line ahead of a
# program's name) and launches (the agent's record of its launches). clear_stage removes
# it all.
stage_service_folder() {
    install_dir="$drive_c/Program Files/$1"
    install_windows=$(windows_path "$install_dir")
    exe_windows="$install_windows\\quillmark_snaptel.exe"
    logs_dir="$drive_c/$1 Logs"
    logs_windows=$(windows_path "$logs_dir")
    config_dir="$drive_c/$1 Config"
    config_windows="$(windows_path "$config_dir")\\snap config.yaml"
    launches=$install_dir/snapteld-launches.txt
    folder_mark="$1\\"
    clear_stage
    mkdir -p "$install_dir" "$logs_dir" "$config_dir" || exit 1
    cp "$2" "$install_dir/quillmark_snaptel.exe" || exit 1
    cp "$3/$agent" "$install_dir/$4" || exit 1
    cp "$3/$collector" "$3/$publisher" "$install_dir/" || exit 1
    printf 'plugins: []\r\n' >"$config_dir/snap config.yaml"
}

# The service, the programs of the installed folder and its files go.
clear_stage() {
    remove_service
    rm -rf "$install_dir" "$logs_dir" "$config_dir"
}

# Each command gets a log of its own, as a service started by "sc start" reads its
# settings only once: the settings file beside the executable is
# rewritten to name the log of the next command, $1.log. Sets log (its Unix path).
use_log() {
    # shellcheck disable=SC2034 # read by the scripts that source this file
    log=$logs_dir/$1.log
    printf '%s\r\n' '[SERVICE]' 'LogLevel=0' "LogFile=$logs_windows\\$1.log" \
        '[AGENT]' "ConfigFile=$config_windows" >"$install_dir/quillmark_snaptel.ini"
}

# Runs the installed executable with the command word $2, logging to the log named $1;
# it must end with exit code 0.
# run_executable <log name> <command word> [<exit code>]: runs the executable with its
# log of that name and checks its exit code (0 unless given) as a Unix shell sees it under
# Wine: the Windows code's low 8 bits.
run_executable() {
    local expected=$((${3:-0} & 255))
    use_log "$1"
    run_wine 120 "$exe_windows" "$2"
    if [ "$cmd_rc" -ne "$expected" ] && [ "$cmd_rc" -ne 124 ]; then
        fail "'quillmark_snaptel.exe $2' exited with $cmd_rc, expected $expected"
    fi
}

launch_count() {
    if [ -f "$launches" ]; then wc -l <"$launches"; else echo 0; fi
}

# Seconds since the time $1 taken from EPOCHREALTIME, to a tenth.
seconds_since() {
    awk -v from="$1" -v to="$EPOCHREALTIME" 'BEGIN { printf "%.1f", to - from }'
}

# start_service [<seconds>]: starts the service and waits at most that long (30 s unless
# given) for it to report RUNNING, then at most 30 s for the group to come up. Sets
# start_time (seconds from "sc start" to RUNNING seen); returns 1 when it never ran.
start_service() {
    local limit=${1:-30} start=$EPOCHREALTIME
    run_wine 60 sc start "$service"
    if [ "$cmd_rc" -ne 0 ]; then
        fail "'sc start' exited with $cmd_rc, expected 0 $(sc_error)"
    fi
    # A start the manager has given up on reads STOPPED: no need to wait for the limit.
    wait_for_state '(RUNNING|STOPPED)' "$limit"
    if [[ $(sc_state) != *RUNNING* ]]; then
        fail "expected RUNNING within $limit s of 'sc start', sc query shows $(sc_state)"
        return 1
    fi
    # shellcheck disable=SC2034 # read by the scripts that source this file
    start_time=$(seconds_since "$start")
    wait_until 30 group_running
}

# stop_service [<seconds>]: stops the service and waits at most that long (30 s unless
# given) for it to report STOPPED. Sets stop_time (seconds from "sc stop" to STOPPED seen).
stop_service() {
    local limit=${1:-30} start=$EPOCHREALTIME
    run_wine 60 sc stop "$service"
    if [ "$cmd_rc" -ne 0 ]; then
        fail "'sc stop' exited with $cmd_rc, expected 0 $(sc_error)"
    fi
    if ! wait_for_state STOPPED "$limit"; then
        fail "expected STOPPED within $limit s of 'sc stop', sc query shows $(sc_state)"
    fi
    # shellcheck disable=SC2034 # read by the scripts that source this file
    stop_time=$(seconds_since "$start")
}

# The state in the last "sc query" answer, and the manager's error code for the last
# "sc" command when Wine's err channel for sc shows it (QM_WINEDEBUG=...,err+sc).
sc_state() {
    grep -E 'STATE|WIN32_EXIT_CODE' <<<"$cmd_out" | tr -s ' ' | tr '\n' ';'
}
sc_error() {
    local code
    code=$(grep -oE 'err:sc:.* [0-9]+$' "$scratch/err" | grep -oE '[0-9]+$' | tail -n 1)
    [ -n "$code" ] && printf '(the manager answered %s)' "$code"
}

folder_idle() {
    [ -z "$(processes_with "$folder_mark")" ]
}

# Waits at most 15 s until no program of the installed folder runs: the process writes its
# last lines after it has reported the stop.
wait_until_folder_idle() {
    if ! wait_until 15 folder_idle; then
        fail "programs of the installed folder still run 15 s after the stop"
        show_processes
    fi
}
