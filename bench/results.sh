# Sourced by bench/measure.sh: turns the "name=value" lines of a run into the Markdown of
# bench/results.md. Kept apart so that the page can be written again from the values of
# a run without measuring again:
#
#   . bench/results.sh; measured_on=... machine_cpu=... write_results figures.txt
#
# Reads measured_on, machine_cpu, machine_cores, machine_kernel, wine_version and
# load_before.

# The value of "name=value" in the figures file.
figure() {
    sed -n "s/^$1=//p" "$figures_file" | tail -n 1
}

# Evaluates an arithmetic expression with awk, printed with the given format.
calc() {
    awk "BEGIN { printf \"$1\", $2 }"
}

# "yes" when the expression holds.
met() {
    awk "BEGIN { print (($1) ? \"yes\" : \"**no**\") }"
}

median_of() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

write_results() {
    figures_file=$1

    # 1. CPU while watching.
    local window service_ms service_ns idle_ms idle_ns server_ms cycles
    window=$(figure window_ms)
    service_ms=$(figure service_cpu_ms)
    service_ns=$(figure service_threads_ns)
    idle_ms=$(figure idle_cpu_ms)
    idle_ns=$(figure idle_threads_ns)
    server_ms=$(figure wineserver_cpu_ms)
    cycles=$(figure health_cycles_in_window)
    local service_share idle_share cpu_above service_threads_ms idle_threads_ms
    service_share=$(calc '%.3f' "$service_ms * 100 / $window")
    idle_share=$(calc '%.3f' "$idle_ms * 100 / $window")
    cpu_above=$(calc '%.3f' "($service_ms - $idle_ms) * 100 / $window")
    service_threads_ms=$(calc '%.1f' "$service_ns / 1e6")
    idle_threads_ms=$(calc '%.1f' "$idle_ns / 1e6")

    # 2. Stops: each against the waits of its own run.
    local run stops_table='' above_list='' total_list='' tail_list='' pauses_list=''
    local total control pauses floor above
    for run in $(sed -n 's/^stop_\([0-9]*\)_ms=.*/\1/p' "$figures_file"); do
        total=$(figure "stop_${run}_ms")
        control=$(figure "stop_${run}_control_returned_ms")
        pauses=$(figure "stop_${run}_pauses")
        floor=$((2000 + 100 * pauses))
        above=$(calc '%.1f' "$total - $floor")
        stops_table+="| $run | $(calc '%.1f' "$total") | $pauses | $floor | $above | $(calc '%.1f' "$total - $control") |"$'\n'
        above_list+="$above"$'\n'
        total_list+="$total"$'\n'
        tail_list+="$(calc '%.3f' "$total - $control")"$'\n'
        pauses_list+="$pauses"$'\n'
    done
    local stop_median stop_above stop_above_max stop_tail stop_pauses stop_floor
    stop_median=$(printf '%s' "$total_list" | median_of)
    stop_above=$(printf '%s' "$above_list" | median_of)
    stop_above_max=$(printf '%s' "$above_list" | sort -g | tail -n 1)
    stop_tail=$(printf '%s' "$tail_list" | median_of)
    stop_pauses=$(printf '%s' "$pauses_list" | sort -u | paste -sd/ -)
    stop_floor=$(printf '%s' "$pauses_list" | sort -u | awk '{ printf "%s%d", (NR > 1 ? "/" : ""), 2000 + 100 * $1 }')

    # 3. Health cycle.
    local enumeration search cycle processes ratio per_process
    enumeration=$(figure enumeration_median_us)
    search=$(figure one_search_median_us)
    cycle=$(figure health_cycle_median_us)
    processes=$(figure processes_enumerated)
    ratio=$(calc '%.2f' "$cycle / $enumeration")
    per_process=$(calc '%.0f' "($search - $enumeration) / $processes")

    # 4. Restarts.
    local restarts handles_1 handles_n private_1 private_n
    restarts=$(sed -n 's/^handles_after_\([0-9]*\)=.*/\1/p' "$figures_file" | sort -n | tail -n 1)
    handles_1=$(figure handles_after_1)
    handles_n=$(figure "handles_after_$restarts")
    private_1=$(figure private_bytes_after_1)
    private_n=$(figure "private_bytes_after_$restarts")
    local trend='' point
    for point in $(sed -n 's/^handles_after_\([0-9]*\)=.*/\1/p' "$figures_file" | sort -n); do
        trend+="| $point | $(figure "handles_after_$point") | $(calc '%.0f' "$(figure "private_bytes_after_$point") / 1024") |"$'\n'
    done

    # 5. Log lines.
    local suppressed empty written bare
    suppressed=$(figure suppressed_ns)
    empty=$(figure empty_loop_ns)
    written=$(figure written_ns)
    bare=$(figure bare_write_ns)

    cat <<EOF
# What the service costs

Measured by \`bench/measure.sh\` on $measured_on, on the Windows build (mingw-w64, Release)
under Wine. Each figure is set against its floor, measured in the same run.

- Machine: $machine_cpu, $machine_cores cores; $machine_kernel
- Wine: $wine_version
- Load average when the run began: $load_before

| # | Figure | Measured | Floor (same run) | Against the floor | Goal | Met |
|---|---|---|---|---|---|---|
| 1 | CPU of the service process while it watches, over $(calc '%.1f' "$window / 1000") s | $service_share % of one core ($service_ms ms) | idle Wine process: $idle_share % ($idle_ms ms) | +$cpu_above % | ≤ 0.05 % | $(met "($service_ms - $idle_ms) * 100 / $window <= 0.05") |
| 2 | Stop control to the stopped state (median of the runs) | $(calc '%.1f' "$stop_median") ms | prescribed waits: $stop_floor ms | +$stop_above ms (largest +$stop_above_max ms) | ≤ 100 ms above | $(met "$stop_above <= 100") |
| 3 | One health cycle, $processes processes running | $(calc '%.1f' "$cycle / 1000") ms | one bare enumeration: $(calc '%.2f' "$enumeration / 1000") ms | $ratio enumerations | ≤ 3.3 enumerations | $(met "$ratio <= 3.3") |
| 4a | Open handles after $restarts restarts of the agent group | $handles_n | after 1: $handles_1 | $((handles_n - handles_1)) | equal | $(met "$handles_n == $handles_1") |
| 4b | Private memory after $restarts restarts of the agent group | $(calc '%.0f' "$private_n / 1024") KiB | after 1: $(calc '%.0f' "$private_1 / 1024") KiB | $(calc '%+.0f' "($private_n - $private_1) / 1024") KiB | equal | $(met "$private_n == $private_1") |
| 5a | A suppressed debug line (LogLevel 3) | $(calc '%.1f' "$suppressed") ns | empty loop: $(calc '%.1f' "$empty") ns | +$(calc '%.1f' "$suppressed - $empty") ns | ≤ 100 ns | $(met "$suppressed <= 100") |
| 5b | A written debug line (LogLevel 0) | $(calc '%.2f' "$written / 1000") µs | its bytes written alone: $(calc '%.2f' "$bare / 1000") µs | +$(calc '%.2f' "($written - $bare) / 1000") µs | ≤ 5 µs | $(met "$written <= 5000") |

## How each figure was taken

**1. CPU while watching.** The service is installed in \`C:\\Program Files\\Quillmark Bench\`
beside the stand-ins of the agent and its plugins, started with \`sc start\`, and left to
watch them. Under Wine it is a Linux process: the figure is the change of utime + stime in
\`/proc/<pid>/stat\` (10 ms ticks) over the window, which opens 5 s after the start so that
the first health cycle falls inside it ($cycles health cycle(s) in the window, by the
service's log at LogLevel 0). The threads' exact run time (\`schedstat\`) agrees:
$service_threads_ms ms for the service, $idle_threads_ms ms for the idle process. Every
wait the service makes is a call to the Wine server, which did $server_ms ms of work
in the window for all of the prefix's processes together (the stand-ins included); that
is not counted above.

**2. Stops.** \`service_costs.exe stop\` calls ControlService(STOP) and then
QueryServiceStatus every millisecond until the service reports STOPPED. The control
handler runs the whole stop sequence before ControlService returns: the started agents
are terminated, 1000 ms wait, the clean-up ends the agents and plugins by name (100 ms
pause after each search that found some), 1000 ms wait, the temporary directory is
emptied; then the worker thread sees the stop event at its next poll (every 60 ms) and
ServiceMain reports STOPPED. The pauses are counted from the service's log of each run;
the floor leaves out the worker's poll, so up to 60 ms of "above the floor" is that
prescribed poll (last column below).

| Run | Stop (ms) | 100 ms pauses | Floor (ms) | Above the floor (ms) | Control returned → STOPPED (ms) |
|---|---|---|---|---|---|
$stops_table
**3. Health cycle.** \`service_costs.exe health\` starts 500 idle copies of itself and
the agent group, then times, 30 times each and interleaved, one K32EnumProcesses of the
service's 2,048-entry buffer, one search by name (\`find_processes\`) and one health
cycle (is_host_agent_running and are_system_plugins_running, three searches), with the
service's default LogLevel; medians. One search took $(calc '%.1f' "$search / 1000") ms:
the enumeration and about $per_process µs for each process.

**4. Restarts.** \`service_costs.exe restarts\` launches the agent group with
start_agent, then restarts it $restarts times as the worker thread does after a failed
health cycle (stop_agent, start_agent), waiting each time until the health checks see the
agent and both plugins, and reads its own handle count and private memory through the
platform layer after restarts 1, 10, 20, ...:

| Restarts | Handles | Private memory (KiB) |
|---|---|---|
$trend
**5. Log lines.** \`service_costs.exe log\` writes \`logging::log_debug(L"find_processes",
L"adding process", <image path>)\` in 15 batches (1,000,000 lines a batch when suppressed,
20,000 when written) and gives the median per line. The floor of the written line is the
same bytes handed to platform::write_file on a file opened as the log is.

<details><summary>The run's values</summary>

\`\`\`
$(cat "$figures_file")
\`\`\`
</details>
EOF
}
