#!/usr/bin/env bash
# Measures what the service costs under Wine and writes the figures, each beside its floor
# measured in the same run, into bench/results.md (or the file given as the argument):
#
#   1. CPU of the service process over 60 s while it watches the agent group, installed
#      and started under Wine's service manager; floors: an idle Wine process, and one
#      that only polls as the worker thread does (every 60 ms). Goal: at most 0.05 % of a
#      core above the poll alone.
#   2. A stop, from the stop control to the stopped state; floor: the waits the stop
#      sequence prescribes (1000 ms, 100 ms after each search that found processes,
#      1000 ms), counted from the service's log. Goal: at most 100 ms above them.
#   3. One health cycle with 500 unrelated processes running; floor: one bare search
#      (K32EnumProcesses, then OpenProcess, K32GetProcessImageFileNameW and CloseHandle for
#      each process). Goal: at most 3.3 bare searches, as a cycle prescribes three.
#   4. Open handles and private memory of a process after 100 restarts of the agent
#      group; floor: the same after 1. Goal: equal.
#   5. A suppressed and a written debug line; floors: the empty loop, and the line's
#      bytes handed to the file without the logger. Goals: at most 100 ns for the
#      suppressed line, at most 1.5 µs above its own write for the written one.
#   6. The clean-up of the temporary directory holding 10,000 files, per entry; floor: a
#      bare DeleteFileW walk over the same tree. Goals: at most twice the floor, and the
#      whole well inside the 10 s Wine gives a service to start.
#
# It builds the service, the stand-ins of the agent and its plugins, and the measuring
# program (bench/windows) in build/bench-windows, and runs everything in a Wine prefix of
# its own (build/bench-wineprefix, or $QM_WINEPREFIX), which it leaves with nothing
# installed or running. It takes about twelve minutes. Run it by hand on a machine that is
# otherwise idle: the tests never run it.
#
# usage: bench/measure.sh [results file]
#        bench/measure.sh cleanup [results file]
#
# The second form measures figure 6 alone, in about two minutes: it prints the values and
# keeps them in build/bench-windows/cleanup-figures.txt, and writes the page of that one
# figure only into the results file when one is given. bench/results.md is left as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
mode=all
if [ "${1:-}" = cleanup ]; then
    mode=cleanup
    shift
    results=${1:-}
else
    results=${1:-$repo/bench/results.md}
fi
build=$repo/build/bench-windows

say() {
    printf '==> %s\n' "$*"
}

# --- Building ----------------------------------------------------------------------------

say "Building the service, the stand-ins and the measuring program in $build"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target quillmark_snaptel standin service_costs >/dev/null

export QM_WINEPREFIX=${QM_WINEPREFIX:-$repo/build/bench-wineprefix}
. "$repo/tests/windows/wine-env.sh"
drive_c=$WINEPREFIX/drive_c
service=quillmark_snaptel
registry_key='HKLM\System\CurrentControlSet\Services\quillmark_snaptel'
install_dir="$drive_c/Program Files/Quillmark Bench"
install_windows='C:\Program Files\Quillmark Bench'
folder_mark='Quillmark Bench\'
settings=$install_dir/quillmark_snaptel.ini
log=$install_dir/quillmark_snaptel.log
costs_windows="$install_windows\\service_costs.exe"
agent=snapteld.exe
collector=snap-plugin-collector-qmsystem.exe
publisher=snap-plugin-publisher-quillmark.exe
scratch=$(mktemp -d /tmp/quillmark-bench.XXXXXX)
session_started=0
idle_pid=
poll_pid=

# Standard input from /dev/null and output to a file, never a pipe: the first program of
# a session hands its standard handles on to Wine's system processes, which keep them.
# Sets wine_rc, and wine_out (standard output without CR).
run_wine() {
    local limit=$1
    shift
    set +e
    timeout "$limit" wine "$@" </dev/null >"$scratch/out" 2>"$scratch/err"
    wine_rc=$?
    set -e
    wine_out=$(tr -d '\r' <"$scratch/out")
}

# Runs the measuring program; its "name=value" lines are added to the file $1.
measure() {
    local into=$1 limit=$2
    shift 2
    run_wine "$limit" "$costs_windows" "$@"
    if [ "$wine_rc" -ne 0 ]; then
        echo "service_costs.exe $* failed with exit code $wine_rc:" >&2
        cat "$scratch/out" "$scratch/err" >&2
        exit 1
    fi
    printf '%s\n' "$wine_out" >>"$into"
}

# The value of "name=value" in the file $1.
value_of() {
    sed -n "s/^$2=//p" "$1" | tail -n 1
}

# The settings file beside the executables: the log, the agent's configuration file and,
# when given, the log level.
write_settings() {
    {
        printf '%s\r\n' '[SERVICE]'
        [ -n "${1:-}" ] && printf 'LogLevel=%s\r\n' "$1"
        printf '%s\r\n' "LogFile=$install_windows\\quillmark_snaptel.log" '[AGENT]' \
            "ConfigFile=$install_windows\\snap config.yaml"
    } >"$settings"
}

registered() {
    timeout 60 wine reg query "$registry_key" </dev/null >/dev/null 2>&1
}

state_of_service() {
    run_wine 30 sc query "$service"
    sed -nE 's/^ *STATE +: [0-9]+ +([A-Z_]+).*/\1/p' <<<"$wine_out"
}

wait_for_state() {
    local wanted=$1 limit=$2 start=$SECONDS
    while [ $((SECONDS - start)) -lt "$limit" ]; do
        [ "$(state_of_service)" = "$wanted" ] && return 0
        sleep 0.5
    done
    return 1
}

# Figure 6, which both forms of the command measure; its values are added to the file $1.
# At the service's default LogLevel, as it empties the directory at a start: debug lines
# suppressed.
measure_cleanup() {
    write_settings
    say "Timing the clean-up of 10,000 files against a bare walk (about a minute and a half)"
    measure "$1" 900 cleanup 10000 5
}

# --- Processes, seen from the Linux side -------------------------------------------------

# Wine gives each process its Windows command line. Prints the Linux ids of the processes
# whose command line holds $1.
pids_with() {
    local entry command_line
    for entry in /proc/[0-9]*/cmdline; do
        # A process may end between the listing and the reading.
        command_line=$({ tr '\0' ' ' <"$entry"; } 2>/dev/null) || continue
        if [[ $command_line == *"$1"* ]]; then
            entry=${entry#/proc/}
            echo "${entry%/cmdline}"
        fi
    done
}

group_running() {
    local name
    for name in "$agent" "$collector" "$publisher"; do
        [ "$(pids_with "$folder_mark$name" | wc -l)" -eq 1 ] || return 1
    done
}

wait_for_group() {
    local start=$SECONDS
    while [ $((SECONDS - start)) -lt 30 ]; do
        group_running && return 0
        sleep 0.5
    done
    echo "the agent group did not come up within 30 s" >&2
    return 1
}

# This prefix's server: the one whose environment names the prefix.
wineserver_pid() {
    local entry
    for entry in /proc/[0-9]*; do
        [ "$(readlink "$entry/exe" 2>/dev/null)" = /usr/lib/wine/wineserver64 ] || continue
        if tr '\0' '\n' <"$entry/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "${entry#/proc/}"
            return 0
        fi
    done
}

# CPU time of process $1 in two readings: "<utime+stime in ms> <threads' run time in ns>".
# The first counts every thread that ever ran, in 10 ms ticks; the second is exact but
# sums only the threads alive now.
cpu_of() {
    local pid=$1 ticks fields ns=0 task
    ticks=$(getconf CLK_TCK)
    fields=$(sed 's/^.*) //' "/proc/$pid/stat")
    for task in /proc/"$pid"/task/*/schedstat; do
        ns=$((ns + $(cut -d' ' -f1 "$task" 2>/dev/null || echo 0)))
    done
    awk -v f="$fields" -v t="$ticks" -v ns="$ns" \
        'BEGIN { split(f, a, " "); printf "%d %d\n", (a[12] + a[13]) * 1000 / t, ns }'
}

# --- Clearing away -------------------------------------------------------------------------

clear_away() {
    local status=$?
    set +e
    if [ "$session_started" -eq 1 ]; then
        if registered; then
            timeout 60 wine sc stop "$service" </dev/null >/dev/null 2>&1
            wait_for_state STOPPED 30
            timeout 60 wine sc delete "$service" </dev/null >/dev/null 2>&1
            registered && timeout 60 wine reg delete "$registry_key" /f </dev/null >/dev/null 2>&1
        fi
        sh "$repo/tests/windows/wine-prefix.sh" teardown
    fi
    rm -rf "$install_dir" "$scratch"
    [ "$status" -ne 0 ] && echo "The measurement failed (exit code $status)." >&2
    exit "$status"
}
trap clear_away EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- Setting up ---------------------------------------------------------------------------

say "Preparing the Wine prefix $WINEPREFIX and a session that stays up"
session_started=1
sh "$repo/tests/windows/wine-prefix.sh" setup >/dev/null
if registered; then
    timeout 60 wine sc stop "$service" </dev/null >/dev/null 2>&1 || true
    wait_for_state STOPPED 30 || true
    timeout 60 wine sc delete "$service" </dev/null >/dev/null 2>&1 || true
fi
rm -rf "$install_dir"
mkdir -p "$install_dir"
cp "$build/src/quillmark_snaptel.exe" "$build/bench/windows/service_costs.exe" "$install_dir/"
for name in "$agent" "$collector" "$publisher"; do
    cp "$build/standins/$name" "$install_dir/$name"
done
printf 'plugins: []\r\n' >"$install_dir/snap config.yaml"

figures=$scratch/figures.txt
{
    echo "measured_on=$(date '+%Y-%m-%d %H:%M %Z')"
    echo "machine_cpu=$(lscpu | sed -nE 's/^Model name: +//p' | head -n 1)"
    echo "machine_cores=$(nproc)"
    echo "machine_kernel=$(uname -sr)"
    echo "wine_version=$(wine --version 2>/dev/null)"
    echo "load_before=$(cut -d' ' -f1-3 /proc/loadavg)"
} >"$figures"

if [ "$mode" = cleanup ]; then
    measure_cleanup "$figures"
    cp "$figures" "$build/cleanup-figures.txt"
    say "Values, kept in $build/cleanup-figures.txt:"
    cat "$figures"
    if [ -n "$results" ]; then
        say "Writing $results"
        bash "$repo/bench/results.sh" "$figures" >"$results"
    fi
    exit 0
fi

# --- 1. CPU while watching, and 2. stops ------------------------------------------------------

# Debug lines: they show the health cycle inside the window and the searches of each stop.
write_settings 0
say "Installing the service and starting it under Wine's service manager"
run_wine 120 "$install_windows\\quillmark_snaptel.exe" install
registered || { echo "the service did not register" >&2; exit 1; }
run_wine 60 sc start "$service"
wait_for_state RUNNING 30 || { echo "the service did not reach RUNNING" >&2; exit 1; }
started_at=$SECONDS
wait_for_group

# Two floors in the same session: a Wine process that does nothing, and one that does the
# worker thread's 60 ms poll and nothing else.
wine "$costs_windows" idle </dev/null >/dev/null 2>&1 &
wine "$costs_windows" poll </dev/null >/dev/null 2>&1 &
floors_start=$SECONDS
while { [ -z "$idle_pid" ] || [ -z "$poll_pid" ]; } && [ $((SECONDS - floors_start)) -lt 30 ]; do
    sleep 0.5
    idle_pid=$(pids_with "service_costs.exe idle" | head -n 1)
    poll_pid=$(pids_with "service_costs.exe poll" | head -n 1)
done
[ -n "$idle_pid" ] && [ -n "$poll_pid" ] || { echo "the floor processes did not start" >&2; exit 1; }

# The window opens a few seconds after the start, so that the first health cycle (61 s
# after the start) falls inside it.
sleep $((5 - (SECONDS - started_at) > 0 ? 5 - (SECONDS - started_at) : 0))
service_pid=$(pids_with "${folder_mark}quillmark_snaptel.exe" | head -n 1)
server_pid=$(wineserver_pid)
say "Measuring the CPU of the running service over 60 s"
cycles_before=$(grep -c 'is_host_agent_running enter' "$log" || true)
log_lines_0=$(wc -l <"$log")
read -r service_ms_0 service_ns_0 <<<"$(cpu_of "$service_pid")"
read -r idle_ms_0 idle_ns_0 <<<"$(cpu_of "$idle_pid")"
read -r poll_ms_0 poll_ns_0 <<<"$(cpu_of "$poll_pid")"
read -r server_ms_0 _ <<<"$(cpu_of "$server_pid")"
window_0=$(date +%s%N)
sleep 60
read -r service_ms_1 service_ns_1 <<<"$(cpu_of "$service_pid")"
read -r idle_ms_1 idle_ns_1 <<<"$(cpu_of "$idle_pid")"
read -r poll_ms_1 poll_ns_1 <<<"$(cpu_of "$poll_pid")"
read -r server_ms_1 _ <<<"$(cpu_of "$server_pid")"
window_1=$(date +%s%N)
cycles_after=$(grep -c 'is_host_agent_running enter' "$log" || true)
log_lines_1=$(wc -l <"$log")
kill "$idle_pid" "$poll_pid" 2>/dev/null || true
{
    echo "window_ms=$(((window_1 - window_0) / 1000000))"
    echo "service_cpu_ms=$((service_ms_1 - service_ms_0))"
    echo "service_threads_ns=$((service_ns_1 - service_ns_0))"
    echo "idle_cpu_ms=$((idle_ms_1 - idle_ms_0))"
    echo "idle_threads_ns=$((idle_ns_1 - idle_ns_0))"
    echo "poll_cpu_ms=$((poll_ms_1 - poll_ms_0))"
    echo "poll_threads_ns=$((poll_ns_1 - poll_ns_0))"
    echo "wineserver_cpu_ms=$((server_ms_1 - server_ms_0))"
    echo "health_cycles_in_window=$((cycles_after - cycles_before))"
    echo "log_lines_in_window=$((log_lines_1 - log_lines_0))"
} >>"$figures"

stops=5
say "Timing $stops stops"
for run in $(seq 1 "$stops"); do
    if [ "$run" -gt 1 ]; then
        run_wine 60 sc start "$service"
        wait_for_state RUNNING 30 || { echo "the service did not reach RUNNING" >&2; exit 1; }
        wait_for_group
        sleep 3
    fi
    lines_before=$(wc -l <"$log")
    stop_figures=$scratch/stop.txt
    : >"$stop_figures"
    measure "$stop_figures" 120 stop "$service"
    # The process writes its last lines after it has reported the stop.
    sleep 2
    # Each search of the clean-up that found processes is followed by a 100 ms pause.
    pauses=$(tail -n "+$((lines_before + 1))" "$log" |
        grep -cE 'kill_processes (found running plugins|host agent is running)' || true)
    {
        echo "stop_${run}_ms=$(value_of "$stop_figures" stopped_ms)"
        echo "stop_${run}_control_returned_ms=$(value_of "$stop_figures" control_returned_ms)"
        echo "stop_${run}_state_at_return=$(value_of "$stop_figures" state_when_control_returned)"
        echo "stop_${run}_pauses=$pauses"
    } >>"$figures"
done

say "Uninstalling the service"
run_wine 120 "$install_windows\\quillmark_snaptel.exe" uninstall
if registered; then
    timeout 60 wine sc delete "$service" </dev/null >/dev/null 2>&1 || true
fi

# --- 3. A health cycle among 500 processes -------------------------------------------------

# The service's own default: debug lines suppressed.
write_settings
say "Timing health cycles with 500 unrelated processes running (about a minute)"
measure "$figures" 600 health 500 30

# --- 4. Restarts -----------------------------------------------------------------------------

say "Restarting the agent group 100 times (about five minutes)"
measure "$figures" 1200 restarts 100

# --- 5. Log lines ----------------------------------------------------------------------------

say "Timing suppressed and written log lines"
write_settings 3
: >"$scratch/suppressed.txt"
measure "$scratch/suppressed.txt" 300 log 1000000
write_settings 0
: >"$scratch/written.txt"
measure "$scratch/written.txt" 300 log 20000
{
    echo "suppressed_ns=$(value_of "$scratch/suppressed.txt" line_median_ns)"
    echo "empty_loop_ns=$(value_of "$scratch/suppressed.txt" empty_loop_median_ns)"
    echo "written_ns=$(value_of "$scratch/written.txt" line_median_ns)"
    echo "bare_write_ns=$(value_of "$scratch/written.txt" bare_write_median_ns)"
} >>"$figures"
rm -f "$log" "$install_dir/bare-writes.log"

# --- 6. Clean-up ------------------------------------------------------------------------------

measure_cleanup "$figures"

# --- The results file ------------------------------------------------------------------------

# The values are kept beside the build, so that the page can be written again from them.
cp "$figures" "$build/figures.txt"
say "Writing $results"
bash "$repo/bench/results.sh" "$figures" >"$results"
say "Done: $results"
